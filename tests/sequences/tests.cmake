# rnaqubo-seq: end-to-end cases, the round trip through rnaqubo, its manual
# page, the letter rules at the library level, and the collection workflow.
set(seq_tests_dir ${CMAKE_CURRENT_LIST_DIR})

add_test(NAME seq.cases
         COMMAND bash ${seq_tests_dir}/seq_cases.sh $<TARGET_FILE:rnaqubo-seq>)
add_test(NAME seq.round_trip
         COMMAND bash ${seq_tests_dir}/round_trip.sh $<TARGET_FILE:rnaqubo-seq>
                 $<TARGET_FILE:rnaqubo> ${PROJECT_SOURCE_DIR}/examples)
add_test(NAME seq.man_page
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/docs/tool_man_page.sh ${PROJECT_SOURCE_DIR}/docs/rnaqubo-seq.1
                 ${PROJECT_VERSION} -o -i --ambiguous --split --dbn --write-dbn --own-structure STOCKHOLM
                 SS_cons --help --version manifest.tsv .fai .gzi)
set_tests_properties(seq.cases seq.round_trip seq.man_page PROPERTIES LABELS seq TIMEOUT 120)
set_tests_properties(seq.man_page PROPERTIES SKIP_RETURN_CODE 77)

if(TARGET GTest::gtest_main)
  add_executable(sequence_letters_test ${seq_tests_dir}/sequence_letters_test.cpp)
  target_link_libraries(sequence_letters_test PRIVATE rnaqubo_sequences GTest::gtest_main)
  gtest_discover_tests(sequence_letters_test DISCOVERY_TIMEOUT 60)
endif()

# The collection workflow needs rnaqubo-fold and snakemake; it is skipped
# (status 77) without either.
set(workflow_fold_program ${CMAKE_BINARY_DIR}/rnaqubo-fold-not-built)
if(TARGET rnaqubo-fold)
  set(workflow_fold_program $<TARGET_FILE:rnaqubo-fold>)
endif()
add_test(NAME workflow.collection
         COMMAND bash ${PROJECT_SOURCE_DIR}/tests/workflow/workflow_test.sh ${PROJECT_SOURCE_DIR}
                 $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo-seq> ${workflow_fold_program})
set_tests_properties(workflow.collection PROPERTIES LABELS seq TIMEOUT 600 SKIP_RETURN_CODE 77)

# The guide's transcripts of rnaqubo-seq (docs/guide/sequences.md and the
# front page), replayed and compared.
add_test(NAME seq.guide
         COMMAND bash ${seq_tests_dir}/guide_transcripts.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}
                 sequences)
set_tests_properties(seq.guide PROPERTIES LABELS seq TIMEOUT 120)
if(TARGET rnaqubo-fold)
  add_test(NAME workflow.guide
           COMMAND bash -c "command -v snakemake > /dev/null || { echo 'SKIP: snakemake is not installed'; exit 77; }; exec bash \"$0\" \"$1\" \"$2\" collection"
                   ${seq_tests_dir}/guide_transcripts.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(workflow.guide PROPERTIES LABELS seq TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

# The collection workflow on a one-node Slurm cluster that the test starts and
# stops; it needs root (skipped otherwise), slurm-wlm, munge and snakemake.
if(TARGET rnaqubo-fold)
  add_test(NAME workflow.slurm
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/workflow/slurm_test.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-fold>)
  set_tests_properties(workflow.slurm PROPERTIES LABELS "seq;slurm" TIMEOUT 600 SKIP_RETURN_CODE 77)
endif()

# Damaged and lying faidx indexes: never trusted blindly, never a crash.
add_test(NAME seq.index_trust COMMAND bash ${seq_tests_dir}/index_trust.sh $<TARGET_FILE:rnaqubo-seq>)
set_tests_properties(seq.index_trust PROPERTIES LABELS seq TIMEOUT 600 SKIP_RETURN_CODE 77)

# --split stopped by SIGTERM or SIGKILL at each of its steps: all old or all new.
# The build with test hooks sends the signal at the step the test names.
add_executable(rnaqubo-seq_test_hooks ${PROJECT_SOURCE_DIR}/tools/rnaqubo-seq/main.cpp
               ${PROJECT_SOURCE_DIR}/tools/rnaqubo-seq/collection_split.cpp
               ${PROJECT_SOURCE_DIR}/tools/rnaqubo-seq/record_files.cpp ${PROJECT_SOURCE_DIR}/formats/output_file.cpp)
target_compile_definitions(rnaqubo-seq_test_hooks PRIVATE RNAQUBO_TEST_HOOKS)
target_link_libraries(rnaqubo-seq_test_hooks PRIVATE rnaqubo_sequences rnaqubo_formats)
add_test(NAME seq.split_signals COMMAND bash ${seq_tests_dir}/split_signals.sh $<TARGET_FILE:rnaqubo-seq_test_hooks>)
set_tests_properties(seq.split_signals PROPERTIES LABELS seq TIMEOUT 300)

# Stockholm alignments: hand-worked cases, and the projection of the Infernal
# test suite's alignments against a second implementation in Python.
add_test(NAME seq.stockholm_cases COMMAND bash ${seq_tests_dir}/stockholm_cases.sh $<TARGET_FILE:rnaqubo-seq>)
set_tests_properties(seq.stockholm_cases PROPERTIES LABELS seq TIMEOUT 120)
add_test(NAME seq.stockholm_infernal COMMAND bash ${seq_tests_dir}/stockholm_infernal.sh $<TARGET_FILE:rnaqubo-seq>)
set_tests_properties(seq.stockholm_infernal PROPERTIES LABELS seq TIMEOUT 900 SKIP_RETURN_CODE 77)

# The collection workflow on a Stockholm alignment.
if(TARGET rnaqubo-fold)
  add_test(NAME workflow.stockholm
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/workflow/stockholm_flow.sh ${PROJECT_SOURCE_DIR}
                   $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-fold>)
  set_tests_properties(workflow.stockholm PROPERTIES LABELS seq TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

# Standard input against the same file given by path, Stockholm and FASTA.
add_test(NAME seq.stdin_cases
         COMMAND bash ${seq_tests_dir}/stdin_cases.sh $<TARGET_FILE:rnaqubo-seq> ${PROJECT_SOURCE_DIR})
set_tests_properties(seq.stdin_cases PROPERTIES LABELS seq TIMEOUT 300)
