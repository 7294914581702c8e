# skelder_add_test(NAME name SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable; every case becomes a ctest test. Discovery runs before the tests,
# not at build time, so a build never needs servers.
function(skelder_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} skelder_test_support GTest::gtest GTest::gtest_main Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${SKELDER_BIN_DIR}
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}"
    # One variable only: discovery passes a list property on as separate words, which would
    # drop every entry after the first. The bin folder is found from the test program itself.
    ENVIRONMENT "SKELDER_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
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
