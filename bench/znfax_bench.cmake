# znfax against netpbm's pbmtog3 and g3topbm, whole processes.
add_executable(zn_bench_znfax ${CMAKE_CURRENT_LIST_DIR}/znfax_bench.cpp)
add_dependencies(zn_bench_znfax znfax)
target_compile_definitions(zn_bench_znfax PRIVATE ZN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                           ZN_ZNFAX_PATH="$<TARGET_FILE:znfax>")
