# skelder_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [FIXTURE name])
# One GoogleTest executable; every case becomes a ctest test. Discovery runs before the tests,
# not at build time, so a build never needs servers; it may be slow under wine on a busy machine. FIXTURE: a ctest fixture every case needs
# (test_servers: the FTP servers of tests/CMakeLists.txt).
function(skelder_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;FIXTURE" "SOURCES;LIBS;LABELS" ${ARGN})
  # A program that runs on POSIX only (tests/CMakeLists.txt says which and why) is a name
  # without a program on Windows, so the lines that order builds after it still hold.
  if(WIN32)
    foreach(pattern ${SKELDER_POSIX_ONLY_TESTS})
      if(T_NAME MATCHES "^${pattern}$")
        add_custom_target(${T_NAME})
        return()
      endif()
    endforeach()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} skelder_test_support GTest::gtest GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Discovery passes every property value on as separate words: a list value (two variables,
  # two labels) or an empty one would shift the words after it. So one environment variable
  # (the bin folder is found from the test program itself) and one label, the label last.
  set(T_PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "SKELDER_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(T_LABELS)
    list(GET T_LABELS 0 T_LABEL)
    list(APPEND T_PROPERTIES LABELS ${T_LABEL})
  endif()
  # Under wine every case waits for the canary: a program that cannot run must not pass. A
  # fixture of its own needs the canary itself, so one name says both.
  if(T_FIXTURE)
    list(APPEND T_PROPERTIES FIXTURES_REQUIRED ${T_FIXTURE})
  elseif(CMAKE_CROSSCOMPILING)
    list(APPEND T_PROPERTIES FIXTURES_REQUIRED wine)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${SKELDER_BIN_DIR}
    PROPERTIES ${T_PROPERTIES})
endfunction()

# skelder_add_tests_in_dir(PREFIX layer LIBS ... [LABELS ...] [TIMEOUT s])
# Every *_test.cpp of the calling folder becomes its own test program <prefix>_<name>.
function(skelder_add_tests_in_dir)
  cmake_parse_arguments(T "" "PREFIX;TIMEOUT" "LIBS;LABELS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(src ${tests})
    get_filename_component(stem ${src} NAME_WE)
    string(REGEX REPLACE "_test$" "" stem ${stem})
    skelder_add_test(NAME ${T_PREFIX}_${stem} SOURCES ${src} LIBS ${T_LIBS} LABELS ${T_LABELS} TIMEOUT ${T_TIMEOUT})
  endforeach()
endfunction()
