# Script compiler: arbitrary bytes as a script through lexer and parser, and through a whole compile.
file(GLOB NW_FUZZ_COMPILER_TARGETS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fuzz_compiler*.cpp)
foreach(source ${NW_FUZZ_COMPILER_TARGETS})
  get_filename_component(name ${source} NAME_WE)
  nw_fuzz(${name} SOURCES ${source} LIBS nw_compiler)
endforeach()
