# nwinspect on the example (the program started as a process, and the inspection in process) and the
# disassembly of a script of 64 KiB of byte code. A plain program: each run is timed on its own.
add_executable(bench_inspect ${CMAKE_CURRENT_LIST_DIR}/inspect_bench.cpp)
target_link_libraries(bench_inspect PRIVATE nw_inspect)
if(TARGET kirrup AND TARGET tollan)
  add_dependencies(bench_inspect nwinspect kirrup tollan)
  target_compile_definitions(bench_inspect PRIVATE NW_SOURCE_DIR="${CMAKE_SOURCE_DIR}" NW_SDK_DIR="${NW_SDK_DIR}"
    INSPECT_PATH="$<TARGET_FILE:nwinspect>" KIRRUP_PATH="$<TARGET_FILE:kirrup>" TOLLAN_PATH="$<TARGET_FILE:tollan>")
else()
  set_target_properties(bench_inspect PROPERTIES EXCLUDE_FROM_ALL ON)
endif()
