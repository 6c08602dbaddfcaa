nw_fuzz(fuzz_capture_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_capture_reader.cpp LIBS nw_capture)
