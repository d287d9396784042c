# sorvan_add_test(name SOURCES a.cpp b.cpp LIBS lib... [TIMEOUT s] [LABELS label])
# One label per test program: gtest_discover_tests cannot pass a list of labels on.
# One GoogleTest executable per call; each test case becomes its own CTest test.
include(GoogleTest)
function(sorvan_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  sorvan_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
