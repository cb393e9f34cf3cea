# zn's main window: from start to the first screen of rows, and archiving a row, on large ZNOUT
# tables; beside a QTableView over QSqlTableModel on SQLite holding the same rows.
find_package(Qt6 COMPONENTS Sql)
if(TARGET Qt6::Sql)
  add_executable(main_window_bench main_window_bench.cpp)
  target_link_libraries(main_window_bench PRIVATE zn_app Qt6::Sql)
endif()
