# The wizard's translation catalogue: locales/<code>.json compiled into a C++
# table at build time. The compiler refuses a missing, extra or duplicate key,
# an empty text, or placeholders that differ from English, and so fails the
# build naming file and key.

# Debian's interpreter, not whatever a user's PATH puts first.
find_program(TAVIX_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT TAVIX_PYTHON3)
  find_program(TAVIX_PYTHON3 NAMES python3 REQUIRED)
endif()

set(TAVIX_LOCALE_CODES de en es fr hi ja ko pt ru zh)
set(TAVIX_LOCALE_COMPILER ${CMAKE_SOURCE_DIR}/scripts/compile_locales.py)
set(TAVIX_LOCALE_FILES)
foreach(code IN LISTS TAVIX_LOCALE_CODES)
  list(APPEND TAVIX_LOCALE_FILES ${CMAKE_SOURCE_DIR}/locales/${code}.json)
endforeach()

set(TAVIX_LOCALE_TABLE ${CMAKE_BINARY_DIR}/generated/i18n/compiled_texts.cpp)
add_custom_command(
  OUTPUT ${TAVIX_LOCALE_TABLE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated/i18n
  COMMAND ${TAVIX_PYTHON3} ${TAVIX_LOCALE_COMPILER} ${TAVIX_LOCALE_TABLE} ${TAVIX_LOCALE_FILES}
  DEPENDS ${TAVIX_LOCALE_COMPILER} ${TAVIX_LOCALE_FILES}
  COMMENT "Compiling the translation catalogue"
  VERBATIM)
# The rule lives in this directory while the library lives in src/: a target
# here runs it, and the library waits for that target.
add_custom_target(tavix_locale_table DEPENDS ${TAVIX_LOCALE_TABLE})
target_sources(tavix PRIVATE ${TAVIX_LOCALE_TABLE})
add_dependencies(tavix tavix_locale_table)

# The compiler's own refusals, run over small faulty locale sets.
add_test(NAME i18n.locale_compiler
  COMMAND ${TAVIX_PYTHON3} ${CMAKE_SOURCE_DIR}/src/i18n/tests/locale_compiler_test.py
          ${TAVIX_LOCALE_COMPILER})
set_tests_properties(i18n.locale_compiler PROPERTIES LABELS i18n TIMEOUT 120)
