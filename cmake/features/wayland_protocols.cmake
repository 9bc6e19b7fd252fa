# Wayland protocol bindings, generated at build time by wayland-scanner:
# the stable and unstable protocols Debian ships in wayland-protocols, and our
# own XMLs (zem/src/protocol/xml) for the protocols it lacks. Client headers
# and the interface tables go into the toolkit; server headers serve the
# scripted test compositor.

find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
if(NOT WAYLAND_PROTOCOLS_DIR)
  set(WAYLAND_PROTOCOLS_DIR /usr/share/wayland-protocols)
endif()
pkg_check_modules(WAYLAND_SERVER IMPORTED_TARGET wayland-server)

set(ZEM_PROTOCOL_OUT ${CMAKE_BINARY_DIR}/zem-protocol)
file(MAKE_DIRECTORY ${ZEM_PROTOCOL_OUT})

set(ZEM_PROTOCOL_XMLS
  ${WAYLAND_PROTOCOLS_DIR}/stable/xdg-shell/xdg-shell.xml
  ${WAYLAND_PROTOCOLS_DIR}/unstable/xdg-decoration/xdg-decoration-unstable-v1.xml
  ${WAYLAND_PROTOCOLS_DIR}/unstable/text-input/text-input-unstable-v3.xml
  ${WAYLAND_PROTOCOLS_DIR}/unstable/tablet/tablet-unstable-v2.xml
  ${WAYLAND_PROTOCOLS_DIR}/staging/xdg-activation/xdg-activation-v1.xml
  ${CMAKE_SOURCE_DIR}/zem/src/protocol/xml/wlr-layer-shell-unstable-v1.xml
  ${CMAKE_SOURCE_DIR}/zem/src/protocol/xml/cursor-shape-v1.xml
  ${CMAKE_SOURCE_DIR}/zem/src/protocol/xml/ext-foreign-toplevel-list-v1.xml
  ${CMAKE_SOURCE_DIR}/zem/src/protocol/xml/xdg-session-management-v1.xml)

set(ZEM_PROTOCOL_CODE)
set(ZEM_PROTOCOL_HEADERS)
foreach(xml IN LISTS ZEM_PROTOCOL_XMLS)
  get_filename_component(name ${xml} NAME_WE)
  set(client_h ${ZEM_PROTOCOL_OUT}/${name}-client-protocol.h)
  set(server_h ${ZEM_PROTOCOL_OUT}/${name}-server-protocol.h)
  set(code_c ${ZEM_PROTOCOL_OUT}/${name}-protocol.c)
  add_custom_command(
    OUTPUT ${client_h} ${server_h} ${code_c}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${client_h}
    COMMAND ${WAYLAND_SCANNER} server-header ${xml} ${server_h}
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code_c}
    DEPENDS ${xml}
    COMMENT "wayland-scanner ${name}"
    VERBATIM)
  list(APPEND ZEM_PROTOCOL_CODE ${code_c})
  list(APPEND ZEM_PROTOCOL_HEADERS ${client_h} ${server_h})
endforeach()

add_library(zem_protocol STATIC ${ZEM_PROTOCOL_CODE} ${ZEM_PROTOCOL_HEADERS})
target_include_directories(zem_protocol PUBLIC ${ZEM_PROTOCOL_OUT})
target_link_libraries(zem_protocol PUBLIC PkgConfig::DEPS)
set_target_properties(zem_protocol PROPERTIES LINKER_LANGUAGE C)
get_target_property(zem_kind zem TYPE)
if(zem_kind STREQUAL "INTERFACE_LIBRARY")
  target_link_libraries(zem INTERFACE zem_protocol)
else()
  target_link_libraries(zem PUBLIC zem_protocol)
endif()
add_dependencies(zem zem_protocol)

if(TARGET zem_test_support AND WAYLAND_SERVER_FOUND)
  target_link_libraries(zem_test_support PUBLIC PkgConfig::WAYLAND_SERVER zem_protocol)
endif()
