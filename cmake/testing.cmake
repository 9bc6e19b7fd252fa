# tavix_add_gtest(<target> SOURCES <file>... [LIBS <lib>...] [LABELS <label>...])
#
# Declares one GoogleTest executable and hands its cases to CTest. Every test
# runs from the build directory, may take up to ten minutes (the root tests
# build real file systems), and is discovered when it is about to run, so a
# test binary that needs a compositor or root can still be listed anywhere.
function(tavix_add_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "tavix_add_gtest(${target}): no SOURCES")
  endif()
  if(NOT ARG_LABELS)
    set(ARG_LABELS ${target})
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS}
    GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${target} PRIVATE
    TAVIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    TAVIX_BINARY_DIR="${CMAKE_BINARY_DIR}"
    TAVIX_INSTALLER_EXE="$<TARGET_FILE:tavix-installer>")
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
