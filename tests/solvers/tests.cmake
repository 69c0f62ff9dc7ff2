# Solver benchmarks: instance files against the model (and CBC against the
# recursion), the annealer, and the benchmark workflow's summariser.
set(solvers_tests_dir ${CMAKE_CURRENT_LIST_DIR})
find_program(CBC_PROGRAM cbc)
if(RNAQUBO_PYTHON AND NOT RNAQUBO_SANITIZE AND CBC_PROGRAM)
  add_test(NAME solvers.instance_files
           COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=$<TARGET_FILE_DIR:rnaqubo_python>
                   /usr/bin/python3 ${solvers_tests_dir}/instance_files_test.py $<TARGET_FILE:rnaqubo-fold>
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
                   /usr/bin/python3 ${solvers_tests_dir}/milp_readers_test.py $<TARGET_FILE:rnaqubo-fold>)
  set_tests_properties(solvers.milp_readers PROPERTIES LABELS solvers TIMEOUT 120)
else()
  message(STATUS "cbc or glpsol (Debian: coinor-cbc, glpk-utils) is missing: solvers.milp_readers skipped")
endif()

add_test(NAME solvers.summary
         COMMAND /usr/bin/python3 ${solvers_tests_dir}/summary_test.py ${PROJECT_SOURCE_DIR}/workflow/scripts)
if(TARGET rnaqubo-seq)
  add_test(NAME solvers.benchmark_workflow
           COMMAND bash ${solvers_tests_dir}/benchmark_workflow_test.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo-fold> $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-anneal>)
  set_tests_properties(solvers.benchmark_workflow PROPERTIES LABELS solvers TIMEOUT 1200 SKIP_RETURN_CODE 77)
endif()

# Its refusals of settings that are not numbers it can use, from dry runs.
add_test(NAME solvers.benchmark_settings
         COMMAND bash ${solvers_tests_dir}/benchmark_settings_test.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(solvers.benchmark_settings PROPERTIES LABELS solvers TIMEOUT 300 SKIP_RETURN_CODE 77)

if(RNAQUBO_PYTHON AND NOT RNAQUBO_SANITIZE)
  add_test(NAME solvers.anneal
           COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=$<TARGET_FILE_DIR:rnaqubo_python>
                   /usr/bin/python3 ${solvers_tests_dir}/anneal_test.py $<TARGET_FILE:rnaqubo-fold>
                   $<TARGET_FILE:rnaqubo-anneal>)
  set_tests_properties(solvers.anneal PROPERTIES LABELS solvers TIMEOUT 300)
endif()

# The guide's transcripts of instance files and of the worked benchmark
# (docs/guide/benchmarking.md), replayed.
if(TARGET rnaqubo-seq)
  add_test(NAME solvers.guide
           COMMAND bash -c "command -v snakemake > /dev/null && command -v cbc > /dev/null || { echo 'SKIP: snakemake or cbc is not installed'; exit 77; }; exec bash \"$0\" \"$1\" \"$2\" solvers"
                   ${PROJECT_SOURCE_DIR}/tests/sequences/guide_transcripts.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(solvers.guide PROPERTIES LABELS solvers TIMEOUT 1200 SKIP_RETURN_CODE 77)
endif()

# rnaqubo-anneal's manual page and version line.
add_test(NAME solvers.anneal_man_page
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/docs/tool_man_page.sh ${PROJECT_SOURCE_DIR}/docs/rnaqubo-anneal.1
                 ${PROJECT_VERSION} --sweeps --seed --hot --cold --help --version "rnaqubo-fold --instance")
add_test(NAME solvers.anneal_version COMMAND $<TARGET_FILE:rnaqubo-anneal> --version)
set_tests_properties(solvers.anneal_man_page PROPERTIES LABELS solvers SKIP_RETURN_CODE 77)
set_tests_properties(solvers.anneal_version PROPERTIES LABELS solvers
                     PASS_REGULAR_EXPRESSION "^rnaqubo-anneal ${PROJECT_VERSION}\n$")
