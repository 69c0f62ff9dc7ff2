# The searches: the optimum, the landscape and the annealer against brute force over every
# selection of small models, and the optimum as a local optimum of large ones
# (the tests keep the prefix fold., the tool they were first written for).
if(GTest_FOUND)
  add_executable(fold_tests
    ${CMAKE_CURRENT_LIST_DIR}/brute_force_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/large_model_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/landscape_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/anneal_test.cpp
  )
  target_link_libraries(fold_tests PRIVATE rnaqubo_solve rnaqubo_formats GTest::gtest_main)
  target_compile_definitions(fold_tests PRIVATE RNAQUBO_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  # Under the sanitizers everything runs several times slower: smaller default
  # mixes (FOLD_BRUTE_CASES, FOLD_LARGE_MAX_LENGTH and FOLD_TEXT_MAX_CANDIDATES in
  # the environment override either default).
  if(RNAQUBO_SANITIZE)
    target_compile_definitions(fold_tests PRIVATE FOLD_TESTS_SMALL_MIX=1)
  endif()
  gtest_discover_tests(fold_tests DISCOVERY_TIMEOUT 60 TEST_PREFIX fold.)
endif()
