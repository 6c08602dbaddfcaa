# nwctl's script lines and its decoding of received packets, with the shipped API definition file loaded.
nw_fuzz(fuzz_console SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_console.cpp LIBS nw_console)
