# kirrup end to end against objcopy's Intel HEX writer on a 512000-byte image, side by side, with the
# start-up of a bare Qt program as the floor. A plain program: each run is timed on its own.
add_executable(bench_builder ${CMAKE_CURRENT_LIST_DIR}/builder_bench.cpp)
target_link_libraries(bench_builder PRIVATE nw_builder)
add_executable(bench_builder_floor ${CMAKE_CURRENT_LIST_DIR}/builder_floor.cpp)
target_link_libraries(bench_builder_floor PRIVATE Qt5::Core)
add_dependencies(bench_builder kirrup bench_builder_floor)
target_compile_definitions(bench_builder PRIVATE
  NW_SDK_DIR="${NW_SDK_DIR}" KIRRUP_PATH="$<TARGET_FILE:kirrup>"
  FLOOR_PATH="$<TARGET_FILE:bench_builder_floor>")
