find_package(GTest REQUIRED)
include(GoogleTest)

# talvira_add_gtest(name SOURCES ... LIBS ...): one GoogleTest executable, registered with ctest.
# Tests find the shared fixtures through TALVIRA_FIXTURES (../shared/fixtures beside the checkout).
function(talvira_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} talvira_testsupport GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "TALVIRA_FIXTURES=${TALVIRA_FIXTURES};TALVIRA_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()

# talvira_add_qtest(name SOURCES ... LIBS ...): one QtTest executable on the offscreen platform.
function(talvira_add_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} talvira_testsupport Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;TALVIRA_FIXTURES=${TALVIRA_FIXTURES};TALVIRA_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data;LC_ALL=C.UTF-8")
endfunction()
