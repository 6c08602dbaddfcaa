# The image inspector's readers: raw images, HEX files, and every section decoder behind them.
nw_fuzz(fuzz_inspect SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_inspect.cpp LIBS nw_inspect)
