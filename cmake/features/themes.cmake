# The project's own default theme. The toolkit looks for system themes in the
# fixed directory /usr/share/zem/themes whatever the install prefix, so the
# theme goes there (below DESTDIR when one is given).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/themes/default
  DESTINATION /usr/share/zem/themes
  COMPONENT zem-theme-default)
