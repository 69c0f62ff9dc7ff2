# rnaqubo-anneal: its answers against the model and against enumeration, its manual page and version line.
if(RNAQUBO_PYTHON AND NOT RNAQUBO_SANITIZE)
  add_test(NAME solvers.anneal
           COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=$<TARGET_FILE_DIR:rnaqubo_python>
                   /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/anneal_test.py $<TARGET_FILE:rnaqubo-fold>
                   $<TARGET_FILE:rnaqubo-anneal>)
  set_tests_properties(solvers.anneal PROPERTIES LABELS solvers TIMEOUT 300)
endif()
# The entries of .qubo files, foreign or edited, against enumeration; threads; refusals.
add_test(NAME solvers.anneal_entries
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/entries_test.py $<TARGET_FILE:rnaqubo-fold>
                 $<TARGET_FILE:rnaqubo-anneal>)
set_tests_properties(solvers.anneal_entries PROPERTIES LABELS solvers TIMEOUT 120)

add_test(NAME solvers.anneal_man_page
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/docs/tool_man_page.sh ${PROJECT_SOURCE_DIR}/docs/rnaqubo-anneal.1
                 ${PROJECT_VERSION} --sweeps --seed --hot --cold --restarts --threads --replicas --help --version "rnaqubo-fold --instance")
add_test(NAME solvers.anneal_version COMMAND $<TARGET_FILE:rnaqubo-anneal> --version)
set_tests_properties(solvers.anneal_man_page PROPERTIES LABELS solvers SKIP_RETURN_CODE 77)
set_tests_properties(solvers.anneal_version PROPERTIES LABELS solvers
                     PASS_REGULAR_EXPRESSION "^rnaqubo-anneal ${PROJECT_VERSION}\n$")
