# Helpers that turn the source tree's conventions into targets:
#   <root>/<module>/**/*.cpp       -> the library
#   <root>/<module>/tests/*.cpp    -> one test executable per module
#   tests/support/*.cpp            -> a support library for those tests

# Collects the library sources below ROOT, leaving out tests and the given files.
function(tavix_collect_sources out root)
  file(GLOB_RECURSE all CONFIGURE_DEPENDS ${root}/*.cpp ${root}/*.c)
  set(kept)
  foreach(f IN LISTS all)
    if(f MATCHES "/tests/" OR f MATCHES "/bench/")
      continue()
    endif()
    if(f IN_LIST ARGN)
      continue()
    endif()
    list(APPEND kept ${f})
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

set_property(GLOBAL PROPERTY TAVIX_TEST_ROOTS "")

# Registers ROOT as a tree whose */tests folders become test executables
# linked against LIBRARY (and SUPPORT, when it exists).
function(tavix_register_test_root root prefix library support)
  set_property(GLOBAL APPEND PROPERTY TAVIX_TEST_ROOTS "${root}|${prefix}|${library}|${support}")
endfunction()

function(tavix_add_module_tests)
  get_property(roots GLOBAL PROPERTY TAVIX_TEST_ROOTS)
  foreach(entry IN LISTS roots)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 root)
    list(GET parts 1 prefix)
    list(GET parts 2 library)
    list(GET parts 3 support)
    file(GLOB_RECURSE candidates CONFIGURE_DEPENDS ${root}/*.cpp)
    set(dirs)
    foreach(f IN LISTS candidates)
      if(f MATCHES "/tests/[^/]+\\.cpp$" AND NOT f MATCHES "/tests/support/")
        get_filename_component(d ${f} DIRECTORY)
        list(APPEND dirs ${d})
      endif()
    endforeach()
    list(REMOVE_DUPLICATES dirs)
    foreach(d IN LISTS dirs)
      file(RELATIVE_PATH rel ${root} ${d})
      string(REGEX REPLACE "/tests$" "" module ${rel})
      string(REPLACE "/" "_" module ${module})
      set(exe ${prefix}${module}_tests)
      file(GLOB srcs CONFIGURE_DEPENDS ${d}/*.cpp)
      set(libs ${library})
      if(TARGET ${support})
        list(APPEND libs ${support})
      endif()
      tavix_add_gtest(${exe} SOURCES ${srcs} LIBS ${libs} LABELS ${prefix}${module})
    endforeach()
  endforeach()
endfunction()

# Sources of a test-support library (everything below DIR).
function(tavix_collect_support out dir)
  file(GLOB_RECURSE all CONFIGURE_DEPENDS ${dir}/*.cpp)
  set(${out} ${all} PARENT_SCOPE)
endfunction()
