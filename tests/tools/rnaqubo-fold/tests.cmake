# rnaqubo-fold: its command line end to end, its manual page, the guide's
# landscape transcripts, --json and --reduce --out's commit under signals.
set(fold_tests_dir ${CMAKE_CURRENT_LIST_DIR})

add_test(NAME fold.cli
         COMMAND bash ${fold_tests_dir}/fold_cli.sh $<TARGET_FILE:rnaqubo-fold> $<TARGET_FILE:rnaqubo>
                 ${PROJECT_SOURCE_DIR}/examples)

add_test(NAME fold.docs
         COMMAND bash ${fold_tests_dir}/fold_docs.sh $<TARGET_FILE:rnaqubo-fold>
                 ${PROJECT_SOURCE_DIR}/docs/rnaqubo-fold.1 ${PROJECT_VERSION} ${CMAKE_COMMAND}
                 ${CMAKE_BINARY_DIR} "$<CONFIG>" ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR})
set_tests_properties(fold.docs PROPERTIES SKIP_RETURN_CODE 77)

add_test(NAME fold.landscape_cli
         COMMAND bash ${fold_tests_dir}/landscape_cli.sh $<TARGET_FILE:rnaqubo-fold> $<TARGET_FILE:rnaqubo>
                 ${PROJECT_SOURCE_DIR}/examples)

# The guide's landscape transcripts (docs/guide/landscape.md) and the front
# page's annealer, replayed and compared.
add_guide_test(fold.landscape_guide fold fold 300)

# --reduce --out stopped by a signal at each step of its commit, and a second
# run into the prefix while the first is stopped: the build with test hooks
# sends the signal at the step the test names.
add_executable(rnaqubo-fold_test_hooks ${PROJECT_SOURCE_DIR}/tools/rnaqubo-fold/fold_command.cpp
               ${PROJECT_SOURCE_DIR}/tools/rnaqubo-fold/fold_report.cpp
               ${PROJECT_SOURCE_DIR}/tools/rnaqubo-fold/json_report.cpp
               ${PROJECT_SOURCE_DIR}/tools/rnaqubo-fold/landscape_report.cpp
               ${PROJECT_SOURCE_DIR}/tools/rnaqubo-fold/main.cpp ${PROJECT_SOURCE_DIR}/formats/output_file.cpp)
target_compile_definitions(rnaqubo-fold_test_hooks PRIVATE RNAQUBO_TEST_HOOKS)
target_link_libraries(rnaqubo-fold_test_hooks PRIVATE rnaqubo_solve rnaqubo_structure rnaqubo_formats)
if(TARGET nlohmann_json::nlohmann_json)
  target_link_libraries(rnaqubo-fold_test_hooks PRIVATE nlohmann_json::nlohmann_json)
  target_compile_definitions(rnaqubo-fold_test_hooks PRIVATE RNAQUBO_WITH_JSON=1)
endif()
add_test(NAME fold.reduce_commit
         COMMAND bash ${fold_tests_dir}/reduce_commit.sh $<TARGET_FILE:rnaqubo-fold_test_hooks>
                 ${PROJECT_SOURCE_DIR}/examples)
set_tests_properties(fold.reduce_commit PROPERTIES LABELS fold TIMEOUT 300)

# --json: every figure of the JSON object against the text report of the same
# run (and against the Python module's, when it is built), --json - and the
# refusals of outputs that would share a file or standard output.
# Without nlohmann-json the tool refuses --json, and only that is checked.
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_test(NAME fold.json COMMAND $<TARGET_FILE:rnaqubo-fold> --json - ${PROJECT_SOURCE_DIR}/examples/ggggcccc.txt 8 0 1 -200)
  set_tests_properties(fold.json PROPERTIES WILL_FAIL TRUE)
elseif(RNAQUBO_PYTHON AND NOT RNAQUBO_SANITIZE)
  add_test(NAME fold.json
           COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=$<TARGET_FILE_DIR:rnaqubo_python>
                   /usr/bin/python3 ${fold_tests_dir}/json_report_test.py $<TARGET_FILE:rnaqubo-fold>
                   ${PROJECT_SOURCE_DIR}/examples --module)
else()
  add_test(NAME fold.json
           COMMAND /usr/bin/python3 ${fold_tests_dir}/json_report_test.py $<TARGET_FILE:rnaqubo-fold>
                   ${PROJECT_SOURCE_DIR}/examples)
endif()
set_tests_properties(fold.json PROPERTIES LABELS fold TIMEOUT 600)

# --landscape-plot: the counts read back from the picture equal the selections
# --subopt lists and the variables --reduce keeps; its refusals.
add_test(NAME fold.landscape_plot
         COMMAND /usr/bin/python3 ${fold_tests_dir}/landscape_plot_test.py $<TARGET_FILE:rnaqubo-fold>
                 ${PROJECT_SOURCE_DIR}/examples)
set_tests_properties(fold.landscape_plot PROPERTIES LABELS fold TIMEOUT 300)
