# The collection workflow (on its own, on a Stockholm alignment, on a one-node
# Slurm cluster) and the benchmark workflow with its summariser; the guide's
# transcripts of both, replayed. Each is skipped (status 77) without what it needs.
set(workflow_tests_dir ${CMAKE_CURRENT_LIST_DIR})

add_test(NAME solvers.summary
         COMMAND /usr/bin/python3 ${workflow_tests_dir}/summary_test.py ${PROJECT_SOURCE_DIR}/workflow/scripts)
set_tests_properties(solvers.summary PROPERTIES SKIP_RETURN_CODE 77)

# Its refusals of settings that are not numbers it can use, from dry runs.
add_test(NAME solvers.benchmark_settings
         COMMAND bash ${workflow_tests_dir}/benchmark_settings_test.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(solvers.benchmark_settings PROPERTIES LABELS solvers TIMEOUT 300 SKIP_RETURN_CODE 77)

# The workflows read rnaqubo-fold --json: without nlohmann-json they cannot run.
if(NOT TARGET nlohmann_json::nlohmann_json)
  message(STATUS "nlohmann-json not found: the workflow tests are skipped")
elseif(TARGET rnaqubo-seq)
  add_test(NAME solvers.benchmark_workflow
           COMMAND bash ${workflow_tests_dir}/benchmark_workflow_test.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo-fold> $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-anneal>)
  set_tests_properties(solvers.benchmark_workflow PROPERTIES LABELS solvers TIMEOUT 1200 SKIP_RETURN_CODE 77)

  # The guide's transcripts of instance files and of the worked benchmark
  # (docs/guide/benchmarking.md), replayed.
  add_guide_test(solvers.guide solvers solvers 1200 snakemake cbc)

  add_test(NAME workflow.collection
           COMMAND bash ${workflow_tests_dir}/workflow_test.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-fold>)
  set_tests_properties(workflow.collection PROPERTIES LABELS seq TIMEOUT 600 SKIP_RETURN_CODE 77)

  # The guide's collection transcripts (docs/guide/collections.md and the front page).
  add_guide_test(workflow.guide collection seq 300 snakemake)

  # It needs root (skipped otherwise), slurm-wlm, munge and snakemake.
  add_test(NAME workflow.slurm
           COMMAND bash ${workflow_tests_dir}/slurm_test.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-fold>)
  set_tests_properties(workflow.slurm PROPERTIES LABELS "seq;slurm" TIMEOUT 600 SKIP_RETURN_CODE 77)

  # Record selection (a table of cases, a workflow run, a benchmark dry run)
  # and the messages of failing -q runs.
  add_test(NAME workflow.selection
           COMMAND bash ${workflow_tests_dir}/selection_test.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-fold>)
  set_tests_properties(workflow.selection PROPERTIES LABELS seq TIMEOUT 300 SKIP_RETURN_CODE 77)

  # The instance library on a slice: its manifest reproduced, checked and read by the benchmark.
  add_test(NAME workflow.instance_library
           COMMAND bash ${workflow_tests_dir}/library_test.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-fold> $<TARGET_FILE:rnaqubo-anneal>)
  set_tests_properties(workflow.instance_library PROPERTIES LABELS solvers TIMEOUT 300 SKIP_RETURN_CODE 77)

  add_test(NAME workflow.stockholm
           COMMAND bash ${workflow_tests_dir}/stockholm_flow.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-fold>)
  set_tests_properties(workflow.stockholm PROPERTIES LABELS seq TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()
