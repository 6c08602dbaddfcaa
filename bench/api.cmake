if(benchmark_FOUND)
  add_executable(bench_api_rx ${CMAKE_CURRENT_LIST_DIR}/api_rx.cpp)
  target_link_libraries(bench_api_rx PRIVATE nw_api nw_wifisink benchmark::benchmark)
endif()
