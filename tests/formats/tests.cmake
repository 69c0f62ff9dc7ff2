# The system's files: written whole or not at all, the Q file and its reader,
# and the instance files read by real solvers.
if(GTest_FOUND)
  # The output file unit is built with its test hooks, so that the named
  # temporaries can be forced; this copy takes the library's place at link time.
  add_executable(formats_tests ${CMAKE_CURRENT_LIST_DIR}/output_file_test.cpp ${CMAKE_CURRENT_LIST_DIR}/q_file_test.cpp
                 ${CMAKE_CURRENT_LIST_DIR}/q_file_reader_test.cpp ${CMAKE_CURRENT_LIST_DIR}/selection_array_test.cpp
                 ${PROJECT_SOURCE_DIR}/formats/output_file.cpp)
  target_compile_definitions(formats_tests PRIVATE RNAQUBO_TEST_HOOKS)
  target_link_libraries(formats_tests PRIVATE rnaqubo_formats GTest::gtest_main)
  gtest_discover_tests(formats_tests DISCOVERY_TIMEOUT 60)
endif()

# Instance files against the model (and CBC against the recursion).
find_program(CBC_PROGRAM cbc)
if(RNAQUBO_PYTHON AND NOT RNAQUBO_SANITIZE AND CBC_PROGRAM)
  add_test(NAME solvers.instance_files
           COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=$<TARGET_FILE_DIR:rnaqubo_python>
                   /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/instance_files_test.py $<TARGET_FILE:rnaqubo-fold>
                   ${PROJECT_SOURCE_DIR}/workflow/solvers/cbc.sh)
  set_tests_properties(solvers.instance_files PROPERTIES LABELS solvers TIMEOUT 600)
else()
  message(STATUS "The module or cbc (Debian: coinor-cbc) is missing: solvers.instance_files skipped")
endif()

# Every kind of MILP the tools write, read and solved by GLPK and by CBC alike.
find_program(GLPSOL_PROGRAM glpsol)
if(CBC_PROGRAM AND GLPSOL_PROGRAM)
  set(milp_readers_path "")
  if(RNAQUBO_PYTHON AND NOT RNAQUBO_SANITIZE)
    set(milp_readers_path PYTHONPATH=$<TARGET_FILE_DIR:rnaqubo_python>)
  endif()
  add_test(NAME solvers.milp_readers
           COMMAND ${CMAKE_COMMAND} -E env ${milp_readers_path}
                   /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/milp_readers_test.py $<TARGET_FILE:rnaqubo-fold>)
  set_tests_properties(solvers.milp_readers PROPERTIES LABELS solvers TIMEOUT 120)
else()
  message(STATUS "cbc or glpsol (Debian: coinor-cbc, glpk-utils) is missing: solvers.milp_readers skipped")
endif()
