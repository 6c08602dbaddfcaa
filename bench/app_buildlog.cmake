# The Project page under a builder's flood of output (a program, no benchmark library needed).
if(TARGET nw_app)
  add_executable(bench_buildlog EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/buildlog_bench.cpp)
  target_link_libraries(bench_buildlog PRIVATE nw_app)
endif()

# velmo's start: to its first frame and to the remembered port open (tools/measure-velmo-start.sh).
if(TARGET nw_app)
  add_executable(bench_start EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/start_bench.cpp)
  target_link_libraries(bench_start PRIVATE nw_app)
endif()
