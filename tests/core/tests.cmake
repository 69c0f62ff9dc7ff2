# The common layer: the option parser, the dot-bracket checker, the five model
# arguments, the sequence reader and the split of work over threads.
if(GTest_FOUND)
  add_executable(core_tests ${CMAKE_CURRENT_LIST_DIR}/command_line_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/dot_bracket_test.cpp ${CMAKE_CURRENT_LIST_DIR}/driver_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/work_threads_test.cpp)
  target_link_libraries(core_tests PRIVATE rnaqubo_core GTest::gtest_main)
  gtest_discover_tests(core_tests DISCOVERY_TIMEOUT 60)
endif()
