# tollan on a generated 20 000-line script, side by side with luac5.4 on a comparable Lua file.
if(benchmark_FOUND)
  add_executable(bench_compiler ${CMAKE_CURRENT_LIST_DIR}/compiler_bench.cpp)
  target_link_libraries(bench_compiler PRIVATE benchmark::benchmark Qt5::Core)
  target_compile_definitions(bench_compiler PRIVATE NW_TOLLAN="$<TARGET_FILE:tollan>"
                             NW_API_XML="${NW_API_XML}")
  add_dependencies(bench_compiler tollan)
endif()
