# Listing a shared ZNOUT with xbtool against the sqlite3 shell over the same rows (the tables that
# xbase_bench leaves in its folder).
find_package(SQLite3)
if(SQLite3_FOUND)
  add_executable(listing_bench ${CMAKE_CURRENT_LIST_DIR}/listing_bench.cpp)
  add_dependencies(listing_bench xbase_bench xbtool)
  target_compile_definitions(listing_bench PRIVATE XBTOOL_PATH="$<TARGET_FILE:xbtool>"
                                                   XBASE_BENCH_PATH="$<TARGET_FILE:xbase_bench>")
endif()
