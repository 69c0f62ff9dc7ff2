# The plain reference build of rnaqubo and the differential test that runs both
# on random sequences and compares everything they print and write.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_executable(rnaqubo_reference ${CMAKE_CURRENT_LIST_DIR}/reference_main.cpp)
target_link_libraries(rnaqubo_reference PRIVATE rnaqubo_model)

# Under the sanitizers both programs run several times slower: a shorter mix
# (DIFF_CASES / DIFF_MAX_LENGTH in the environment override either mix).
set(differential_mix)
if(RNAQUBO_SANITIZE)
  set(differential_mix --quick)
endif()

add_test(NAME differential
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/differential_test.py
                 $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo_reference> ${differential_mix})
set_tests_properties(differential PROPERTIES TIMEOUT 1500)
