# The bench's database: commit time per record on SQLite and on a private PostgreSQL server.
if(TARGET nw_records)
  add_executable(bench_records ${CMAKE_CURRENT_LIST_DIR}/records_bench.cpp)
  target_link_libraries(bench_records PRIVATE nw_records)
  target_include_directories(bench_records PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
endif()
