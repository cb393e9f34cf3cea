# Serial port layer: throughput and byte-to-handler latency over a pty pair.
add_executable(zn_port_bench port_bench.cpp)
target_link_libraries(zn_port_bench PRIVATE zn_comms)
