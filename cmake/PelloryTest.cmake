# pellory_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [ENV "A=1;B=2"] [LABELS l])
# Builds one GoogleTest executable and registers its cases with CTest.
include(GoogleTest)
find_package(GTest REQUIRED)
function(pellory_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} pellory_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  # The environment is one property value: keep its entries from being split
  # into separate properties.
  set(env "PELLORY_TRACE_LOG=${CMAKE_BINARY_DIR}/test-trace.log" ${T_ENV})
  string(REPLACE ";" "\\;" env "${env}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${env}"
               LABELS "${T_LABELS}")
endfunction()
