# The link's hand-over from the reader thread to the GUI thread under a flood (a plain program).
add_executable(bench_link_handover ${CMAKE_CURRENT_LIST_DIR}/link_handover.cpp)
target_link_libraries(bench_link_handover PRIVATE nw_link)
