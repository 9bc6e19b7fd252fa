# The primary font built into the toolkit: Sora Regular from Debian's
# fonts-sora (SIL Open Font License 1.1), embedded from the installed file so
# the program can draw text where no system font exists. Its licence ships
# with the program.
set(ZEM_EMBEDDED_FONT_FILE "/usr/share/fonts/opentype/sora/Sora-Regular.otf"
    CACHE FILEPATH "OpenType file embedded as the built-in primary font")
set(ZEM_EMBEDDED_FONT_LICENSE "/usr/share/doc/fonts-sora/copyright"
    CACHE FILEPATH "Licence of the embedded primary font")

if(NOT EXISTS "${ZEM_EMBEDDED_FONT_FILE}")
  message(FATAL_ERROR "embedded font ${ZEM_EMBEDDED_FONT_FILE} not found: install fonts-sora")
endif()

set(_zem_font_cpp "${CMAKE_BINARY_DIR}/generated/embedded_primary_font.cpp")
set(_zem_font_script "${CMAKE_BINARY_DIR}/generated/embed_font.cmake")
file(WRITE "${_zem_font_script}" [=[
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_len)
math(EXPR size "${hex_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.
#include <cstddef>
#include <cstdint>
namespace zem::detail {
extern const std::uint8_t kEmbeddedPrimaryFont[];
extern const std::size_t kEmbeddedPrimaryFontSize;
alignas(16) const std::uint8_t kEmbeddedPrimaryFont[] = {
${bytes}
};
const std::size_t kEmbeddedPrimaryFontSize = ${size};
}  // namespace zem::detail
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
]=])

# Generated at configure time (the target lives in another directory, where a
# custom command's output would not be seen); a change of the font file
# re-runs the configuration.
if("${ZEM_EMBEDDED_FONT_FILE}" IS_NEWER_THAN "${_zem_font_cpp}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DINPUT=${ZEM_EMBEDDED_FONT_FILE} -DOUTPUT=${_zem_font_cpp}
            -P "${_zem_font_script}"
    RESULT_VARIABLE _zem_font_rc)
  if(NOT _zem_font_rc EQUAL 0)
    message(FATAL_ERROR "could not embed ${ZEM_EMBEDDED_FONT_FILE}")
  endif()
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZEM_EMBEDDED_FONT_FILE}")
target_sources(zem PRIVATE "${_zem_font_cpp}")

include(GNUInstallDirs)
install(FILES "${ZEM_EMBEDDED_FONT_LICENSE}"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/tavix-installer"
        RENAME "Sora-Regular.otf.LICENSE")
