# The builder's XML section readers: hardware section and USB descriptor file.
nw_fuzz(fuzz_builder_xml SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_builder_xml.cpp LIBS nw_builder)
