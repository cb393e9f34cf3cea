# The grid model over ZNOUT against QSqlTableModel over SQLite holding the same rows.
find_package(Qt6 COMPONENTS Sql)
find_package(SQLite3)
if(Qt6Sql_FOUND AND SQLite3_FOUND)
  add_executable(table_bench table_bench.cpp)
  target_link_libraries(table_bench PRIVATE zn_table Qt6::Sql SQLite::SQLite3)
endif()
