# Shared helpers of the build.

# nw_program(<target>): a shipped program, placed in the SDK tree's bin/ and installed there.
function(nw_program target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${NW_SDK_DIR}/bin)
  install(TARGETS ${target} RUNTIME DESTINATION bin)
endfunction()

# nw_test(<name> SOURCES ... LIBS ...): one QtTest executable registered with CTest, run headless
# with the SDK tree and the source tree known to it. Test classes register with NW_TEST(Class)
# (tests/common/testmain.h); the shared main runs them all.
function(nw_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${T_LIBS} nw_testmain Qt5::Test)
  target_compile_definitions(${name} PRIVATE
    NW_SOURCE_DIR="${CMAKE_SOURCE_DIR}" NW_SDK_DIR="${NW_SDK_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=0"
    TIMEOUT 600)
endfunction()

# nw_include_fragments(<dir>): includes <dir>/*.cmake, each named after the part it belongs to
# (api_parser.cmake belongs to api), when that part is selected in NW_PARTS.
macro(nw_include_fragments dir)
  file(GLOB _fragments CONFIGURE_DEPENDS ${dir}/*.cmake)
  foreach(_fragment ${_fragments})
    get_filename_component(_part ${_fragment} NAME_WE)
    string(REGEX REPLACE "_.*" "" _part ${_part})
    if(_part IN_LIST NW_PARTS)
      include(${_fragment})
    endif()
  endforeach()
endmacro()

# nw_version: an interface library whose users include "nwversion.h" (NW_VERSION, NW_VERSION_FULL),
# the one place the programs take their version from.
set(NW_VERSION_DIR ${CMAKE_BINARY_DIR}/generated/version)
add_custom_target(nw_version_header
  COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR} -DOUT=${NW_VERSION_DIR}/nwversion.h
          -DVERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/version.cmake
  BYPRODUCTS ${NW_VERSION_DIR}/nwversion.h
  COMMENT "" VERBATIM)
add_library(nw_version INTERFACE)
target_include_directories(nw_version INTERFACE ${NW_VERSION_DIR})
add_dependencies(nw_version nw_version_header)
