find_package(GTest REQUIRED)
include(GoogleTest)

# Everything the tests read is in tests/data, except the vendor's sample Paradox tables
# (dbdemos), which may not be copied into the repository: the tests that need them look for
# them beside the checkout and are skipped, with the reason, when they are absent.
set(TALVIRA_TEST_DATA "${PROJECT_SOURCE_DIR}/tests/data")
set(TALVIRA_DBDEMOS "${PROJECT_SOURCE_DIR}/../shared/fixtures/real/paradox/dbdemos"
    CACHE PATH "The vendor's sample Paradox tables (dbdemos), not part of the repository")

# talvira_add_gtest(name SOURCES ... LIBS ...): one GoogleTest executable, registered with ctest.
function(talvira_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} talvira_testsupport GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# talvira_add_qtest(name SOURCES ... LIBS ...): one QtTest executable on the offscreen platform.
function(talvira_add_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} talvira_testsupport Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8")
endfunction()
