# kirrup end to end against objcopy's Intel HEX writer on a 512000-byte image, side by side.
if(benchmark_FOUND)
  add_executable(bench_builder ${CMAKE_CURRENT_LIST_DIR}/builder_bench.cpp)
  target_link_libraries(bench_builder PRIVATE nw_builder benchmark::benchmark)
  add_dependencies(bench_builder kirrup)
  target_compile_definitions(bench_builder PRIVATE
    NW_SDK_DIR="${NW_SDK_DIR}" KIRRUP_PATH="$<TARGET_FILE:kirrup>")
endif()
