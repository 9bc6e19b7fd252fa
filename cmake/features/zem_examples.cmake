# The toolkit's example programs (zem/examples). The gallery page is a small
# library of its own so that tests can render the same page offscreen.
add_library(zem_gallery STATIC ${CMAKE_SOURCE_DIR}/zem/examples/gallery_page.cpp)
target_include_directories(zem_gallery PUBLIC ${CMAKE_SOURCE_DIR}/zem/examples)
target_link_libraries(zem_gallery PUBLIC zem)

add_executable(zem-gallery ${CMAKE_SOURCE_DIR}/zem/examples/gallery.cpp)
target_link_libraries(zem-gallery PRIVATE zem_gallery)

if(TARGET zem_test_support)
  target_link_libraries(zem_test_support PUBLIC zem_gallery)
  target_compile_definitions(zem_test_support PUBLIC ZEM_GALLERY_EXE="$<TARGET_FILE:zem-gallery>")
  add_dependencies(zem_test_support zem-gallery)
endif()

# Frame figures of the shell (make bench).
if(TARGET zem_test_support)
  add_executable(zem_shell_bench ${CMAKE_SOURCE_DIR}/zem/src/app/bench/shell_bench.cpp)
  target_link_libraries(zem_shell_bench PRIVATE zem_gallery zem_test_support)
  target_compile_definitions(zem_shell_bench PRIVATE ZEM_SOURCE_THEMES="${CMAKE_SOURCE_DIR}/themes")
  if(NOT TARGET bench)
    add_custom_target(bench)
  endif()
  add_custom_target(run_zem_shell_bench
    COMMAND $<TARGET_FILE:zem_shell_bench>
    DEPENDS zem_shell_bench
    USES_TERMINAL)
  add_dependencies(bench run_zem_shell_bench)
endif()
