nw_fuzz(fuzz_api_rx SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_api_rx.cpp LIBS nw_api nw_wifisink)
