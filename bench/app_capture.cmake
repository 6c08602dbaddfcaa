# Opening a large capture in velmo's window, next to tshark decoding it with the generated dissector.
if(TARGET nw_sim)
  add_executable(bench_capture_open ${CMAKE_CURRENT_LIST_DIR}/capture_open.cpp)
  target_link_libraries(bench_capture_open PRIVATE nw_app nw_sim)
  target_compile_definitions(bench_capture_open PRIVATE NW_DISSECTOR="${NW_DISSECTOR}")
endif()
