# Sending and receiving from the fax program: a click on "Send Fax Now" to the first AT command on
# the port (beside efax's start to its first AT), and the far end's hang-up to the received row on
# screen.
add_executable(zn_send_receive_bench send_receive_bench.cpp)
target_link_libraries(zn_send_receive_bench PRIVATE zn_app faxline_harness)
target_include_directories(zn_send_receive_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/faxline)
