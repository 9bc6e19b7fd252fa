# The software canvas benchmark, ours beside bare Cairo. `make bench` builds
# and runs every benchmark hung on the `bench` target.
if(benchmark_FOUND)
  add_executable(zem_canvas_bench EXCLUDE_FROM_ALL
    ${CMAKE_SOURCE_DIR}/zem/src/render/bench/canvas_bench.cpp)
  target_link_libraries(zem_canvas_bench PRIVATE zem benchmark::benchmark)
  if(NOT TARGET bench)
    add_custom_target(bench)
  endif()
  # The console pool runs benchmarks one at a time and shows their output.
  add_custom_target(run_zem_canvas_bench
    COMMAND $<TARGET_FILE:zem_canvas_bench>
    DEPENDS zem_canvas_bench
    USES_TERMINAL)
  add_dependencies(bench run_zem_canvas_bench)
endif()
