# A virtual pointer of our own for tests under wlroots compositors (sway):
# the protocol binding, the client library the tests link, and the
# zem-test-pointer program that walk-through tests drive it with.
set(ZEM_VP_XML ${CMAKE_CURRENT_SOURCE_DIR}/protocols/wlr-virtual-pointer-unstable-v1.xml)
set(ZEM_VP_OUT ${CMAKE_CURRENT_BINARY_DIR}/protocols)
file(MAKE_DIRECTORY ${ZEM_VP_OUT})
add_custom_command(
  OUTPUT ${ZEM_VP_OUT}/wlr-virtual-pointer-unstable-v1-client-protocol.h
         ${ZEM_VP_OUT}/wlr-virtual-pointer-unstable-v1-protocol.c
  COMMAND ${WAYLAND_SCANNER} client-header ${ZEM_VP_XML} ${ZEM_VP_OUT}/wlr-virtual-pointer-unstable-v1-client-protocol.h
  COMMAND ${WAYLAND_SCANNER} private-code ${ZEM_VP_XML} ${ZEM_VP_OUT}/wlr-virtual-pointer-unstable-v1-protocol.c
  DEPENDS ${ZEM_VP_XML}
  COMMENT "wayland-scanner wlr-virtual-pointer-unstable-v1"
  VERBATIM)
add_library(zem_virtual_pointer STATIC
  virtual_pointer.cpp
  ${ZEM_VP_OUT}/wlr-virtual-pointer-unstable-v1-protocol.c
  ${ZEM_VP_OUT}/wlr-virtual-pointer-unstable-v1-client-protocol.h)
target_include_directories(zem_virtual_pointer PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/.. PRIVATE ${ZEM_VP_OUT})
target_link_libraries(zem_virtual_pointer PUBLIC PkgConfig::DEPS)

add_executable(zem-test-pointer test_pointer.cpp)
target_link_libraries(zem-test-pointer PRIVATE zem_virtual_pointer)

target_link_libraries(zem_test_support PUBLIC zem_virtual_pointer)
target_compile_definitions(zem_test_support PUBLIC ZEM_TEST_POINTER_EXE="$<TARGET_FILE:zem-test-pointer>")
add_dependencies(zem_test_support zem-test-pointer)
