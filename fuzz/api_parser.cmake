# Arbitrary command lines into the command line parser, with the shipped API definition file loaded.
nw_fuzz(fuzz_parse SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_parse.cpp LIBS nw_api)
