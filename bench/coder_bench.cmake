# The MH coder against libtiff's fax codec (libtiff is linked into the benchmark only).
find_package(TIFF)
if(TIFF_FOUND)
  add_executable(zn_bench_coder ${CMAKE_CURRENT_LIST_DIR}/coder_bench.cpp)
  target_link_libraries(zn_bench_coder PRIVATE zn_faxdoc TIFF::TIFF)
  target_compile_definitions(zn_bench_coder PRIVATE ZN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
