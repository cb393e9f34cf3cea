# Faxing a 10-page PDF by printing it (lp to znptf's job dialog, Ok to zn's row) beside printing it
# to cups-pdf, through one private cupsd; run as root.
add_executable(print_to_fax_bench ${CMAKE_CURRENT_LIST_DIR}/print_to_fax_bench.cpp)
target_link_libraries(print_to_fax_bench PRIVATE zn_ptf)
add_dependencies(print_to_fax_bench tarvelfax zn)
target_compile_definitions(print_to_fax_bench PRIVATE
  TARVELFAX_BACKEND="$<TARGET_FILE:tarvelfax>"
  TARVELFAX_PPD="${CMAKE_SOURCE_DIR}/ptf/cups/tarvelfax.ppd"
  ZN_PROGRAM="$<TARGET_FILE:zn>")
