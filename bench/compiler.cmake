# tollan on generated scripts of 5 000 to 20 000 lines, side by side with luac5.4 on comparable Lua files.
if(benchmark_FOUND)
  add_executable(bench_compiler ${CMAKE_CURRENT_LIST_DIR}/compiler_bench.cpp)
  target_link_libraries(bench_compiler PRIVATE benchmark::benchmark Qt5::Core)
  target_compile_definitions(bench_compiler PRIVATE NW_TOLLAN="$<TARGET_FILE:tollan>"
                             NW_API_XML="${NW_API_XML}")
  add_dependencies(bench_compiler tollan)
endif()
