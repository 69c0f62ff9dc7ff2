# rnaqubo-fold: the optimum against brute force over small models.
set(fold_tests_dir ${CMAKE_CURRENT_LIST_DIR})

add_executable(fold_tests ${fold_tests_dir}/brute_force_test.cpp)
target_link_libraries(fold_tests PRIVATE rnaqubo_fold GTest::gtest_main)
gtest_discover_tests(fold_tests DISCOVERY_TIMEOUT 60 TEST_PREFIX fold.)
