# The xBase engine against SQLite on a million ZNOUT-shaped rows.
find_package(SQLite3)
if(SQLite3_FOUND)
  add_executable(xbase_bench xbase_bench.cpp)
  target_link_libraries(xbase_bench PRIVATE zn_data SQLite::SQLite3)
endif()
