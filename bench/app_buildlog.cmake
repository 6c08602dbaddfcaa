# The Project page under a builder's flood of output (a program, no benchmark library needed).
if(TARGET nw_app)
  add_executable(bench_buildlog EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/buildlog_bench.cpp)
  target_link_libraries(bench_buildlog PRIVATE nw_app)
endif()
