# What recording costs the link's reader thread per packet.
if(benchmark_FOUND)
  add_executable(bench_capture ${CMAKE_CURRENT_LIST_DIR}/capture_bench.cpp)
  target_link_libraries(bench_capture PRIVATE nw_capture benchmark::benchmark)
endif()
