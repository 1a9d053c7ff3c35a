# zq_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS unit|integration|slow|threads ...] [TIMEOUT s])
# One GoogleTest executable; its cases are registered with CTest one by one
# at test time, each carrying the given labels. Binaries that start threads
# carry "threads" (integration binaries always do: they run the simulator's
# server); they make the target threaded_tests that `./dev test --tsan` builds.
include(GoogleTest)
function(zq_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if("integration" IN_LIST ARG_LABELS AND NOT "threads" IN_LIST ARG_LABELS)
    list(APPEND ARG_LABELS threads)
  endif()
  if("threads" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY ZQ_THREADED_TESTS ${name})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE ZQ_SHARED_DIR="${ZQ_SHARED_DIR}"
                                             ZQ_BINARY_DIR="${CMAKE_BINARY_DIR}")
  # several labels: escaped for each level of the discovery scripts, so that
  # the list reaches the tests whole
  string(REPLACE ";" "\\\\\\\\\\\\\\;" _labels "${ARG_LABELS}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${_labels}" TIMEOUT ${ARG_TIMEOUT})
endfunction()
