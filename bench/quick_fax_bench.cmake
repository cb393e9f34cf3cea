# Quick faxes from Save to their row on screen, and the fax log clean-up of half of a large ZNOUT with
# its files, beside `find -delete` on the same files and SQLite deleting the same rows.
find_package(Qt6 COMPONENTS Sql)
if(TARGET Qt6::Sql)
  add_executable(quick_fax_bench quick_fax_bench.cpp)
  target_link_libraries(quick_fax_bench PRIVATE zn_app Qt6::Sql)
endif()
