# Writes a C++ source holding the bytes of INPUT as the array returned by FUNCTION.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" len)
math(EXPR size "${len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT_NAME}; do not edit.
#include <cstddef>
#include <cstdint>
namespace zn::resources {
namespace {
const uint8_t kData[${size}] = {
${bytes}};
}
const uint8_t* ${FUNCTION}(size_t* size) {
  *size = sizeof kData;
  return kData;
}
} // namespace zn::resources
")
