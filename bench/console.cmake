# nwctl against the simulated module: round trip, start-up to the first byte, a 10 000-line script.
if(TARGET nw_console AND TARGET nw_sim)
  add_executable(bench_console ${CMAKE_CURRENT_LIST_DIR}/console_bench.cpp)
  target_link_libraries(bench_console PRIVATE nw_console nw_sim)
  target_include_directories(bench_console PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
  target_compile_definitions(bench_console PRIVATE NW_SDK_DIR="${NW_SDK_DIR}")
  add_dependencies(bench_console nwctl)
endif()
