# The model: feasible pairs, quads, stacking scores and couplings.
if(GTest_FOUND)
  add_executable(model_tests ${CMAKE_CURRENT_LIST_DIR}/model_test.cpp)
  target_link_libraries(model_tests PRIVATE rnaqubo_model GTest::gtest_main)
  gtest_discover_tests(model_tests DISCOVERY_TIMEOUT 60)
endif()
