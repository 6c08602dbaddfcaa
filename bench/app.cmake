if(benchmark_FOUND AND TARGET nw_sim)
  add_executable(bench_app ${CMAKE_CURRENT_LIST_DIR}/app_bench.cpp)
  target_link_libraries(bench_app PRIVATE nw_app nw_sim benchmark::benchmark)
endif()
