# Line devices: listing them and opening a passthrough call with 32 serial devices present.
add_executable(zn_line_bench line_bench.cpp)
target_link_libraries(zn_line_bench PRIVATE zn_tapi Qt6::Core)
