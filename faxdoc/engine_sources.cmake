# The engine sources of zn_faxdoc (plain C++), shared with the fuzz build.
set(ZN_FAXDOC_ENGINE_SOURCES
  apf_file.cpp
  apf_join.cpp
  bitmap_reader.cpp
  converter.cpp
  file_io.cpp
  file_names.cpp
  mh_codes.cpp
  mh_coder.cpp
  page_files.cpp
  pcx_reader.cpp
  text_reader.cpp
  tiff_reader.cpp
  unpacker.cpp
)
