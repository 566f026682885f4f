# One static library per folder of the tree, made of the files its
# CMakeLists names; whoever includes the folder's headers links it.
function(kovel_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_LINK})
endfunction()

# Qt Test programs, one per name in TESTS (its source is <name>.cpp in the
# calling folder), run by CTest offscreen.
function(kovel_tests)
  cmake_parse_arguments(ARG "" "" "TESTS;LINK" ${ARGN})
  foreach(base IN LISTS ARG_TESTS)
    add_executable(${base} "${base}.cpp")
    target_link_libraries(${base} PRIVATE kovel_test_support Qt6::Test ${ARG_LINK})
    add_test(NAME ${base} COMMAND ${base})
    set_tests_properties(${base} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KOVEL_TEST_BUNDLE=${KOVEL_BUNDLE};KOVEL_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
      TIMEOUT 300)
  endforeach()
endfunction()
