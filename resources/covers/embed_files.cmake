# Writes a C++ source holding the files of INPUTS ("|"-separated paths) as the table returned by
# ShippedCoverTemplates, each under its file name.
string(REPLACE "|" ";" inputs "${INPUTS}")
set(arrays "")
set(entries "")
set(index 0)
foreach(input IN LISTS inputs)
  get_filename_component(name "${input}" NAME)
  file(READ "${input}" hex HEX)
  string(LENGTH "${hex}" len)
  math(EXPR size "${len} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
  if(size EQUAL 0)
    set(bytes "0")
    set(size 1)
  endif()
  string(APPEND arrays "const uint8_t kFile${index}[${size}] = {\n${bytes}};\n")
  string(APPEND entries "    {\"${name}\", kFile${index}, sizeof kFile${index}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}" "// Generated from resources/covers/templates; do not edit.
#include \"resources/covers/cover_templates.h\"
namespace zn::resources {
namespace {
${arrays}
const ShippedFile kFiles[] = {
${entries}    {nullptr, nullptr, 0},
};
}
const ShippedFile* ShippedCoverTemplates() { return kFiles; }
} // namespace zn::resources
")
