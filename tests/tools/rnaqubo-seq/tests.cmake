# rnaqubo-seq: end-to-end cases, its manual page, the README's transcripts, and
# --split stopped by a signal at each of its steps.
if(TARGET rnaqubo-seq)
  set(seq_tool_tests_dir ${CMAKE_CURRENT_LIST_DIR})
  add_test(NAME seq.cases
           COMMAND bash ${seq_tool_tests_dir}/seq_cases.sh $<TARGET_FILE:rnaqubo-seq>)
  add_test(NAME seq.man_page
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/docs/tool_man_page.sh ${PROJECT_SOURCE_DIR}/docs/rnaqubo-seq.1
                   ${PROJECT_VERSION} -o -i --ambiguous --split --dbn --write-dbn --own-structure STOCKHOLM
                   SS_cons --help --version manifest.tsv .fai .gzi)
  set_tests_properties(seq.cases seq.man_page PROPERTIES LABELS seq TIMEOUT 120)
  set_tests_properties(seq.man_page PROPERTIES SKIP_RETURN_CODE 77)

  # The guide's transcripts of rnaqubo-seq (docs/guide/sequences.md and the
  # front page), replayed and compared.
  add_guide_test(seq.guide sequences seq 120)

  # --split stopped by SIGTERM or SIGKILL at each of its steps: all old or all new.
  # The build with test hooks sends the signal at the step the test names.
  add_executable(rnaqubo-seq_test_hooks ${PROJECT_SOURCE_DIR}/tools/rnaqubo-seq/main.cpp
                 ${PROJECT_SOURCE_DIR}/tools/rnaqubo-seq/collection_split.cpp
                 ${PROJECT_SOURCE_DIR}/tools/rnaqubo-seq/record_files.cpp ${PROJECT_SOURCE_DIR}/formats/output_file.cpp)
  target_compile_definitions(rnaqubo-seq_test_hooks PRIVATE RNAQUBO_TEST_HOOKS)
  target_link_libraries(rnaqubo-seq_test_hooks PRIVATE rnaqubo_sequences rnaqubo_formats)
  add_test(NAME seq.split_signals
           COMMAND bash ${seq_tool_tests_dir}/split_signals.sh $<TARGET_FILE:rnaqubo-seq_test_hooks>)
  set_tests_properties(seq.split_signals PROPERTIES LABELS seq TIMEOUT 300)
endif()
