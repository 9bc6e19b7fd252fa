# The install engine beside a bare rsync of the same tree onto the same kind
# of target. `make bench` builds and runs every benchmark hung on `bench`.
if(TARGET tavix_test_support)
  add_executable(install_bench EXCLUDE_FROM_ALL
    ${CMAKE_SOURCE_DIR}/src/install/bench/install_bench.cpp)
  target_link_libraries(install_bench PRIVATE tavix tavix_test_support)
  if(NOT TARGET bench)
    add_custom_target(bench)
  endif()
  add_custom_target(run_install_bench
    COMMAND $<TARGET_FILE:install_bench>
    DEPENDS install_bench
    USES_TERMINAL)
  add_dependencies(bench run_install_bench)
endif()
