# Fax engine: wall time of a 1-page and an 8-page Class 1 fax through the back-to-back modem pair,
# against efax sending the same pages over the same pair.
add_executable(zn_fax_send_bench fax_send_bench.cpp)
target_link_libraries(zn_fax_send_bench PRIVATE fax_test_bench)
