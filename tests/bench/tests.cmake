# The benchmark's helpers and a tiny end-to-end run of bench/run (no timing asserted).
if(TARGET rnaqubo_reference)
  add_test(NAME bench_script
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bench_test.sh
                   $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo_reference>)
endif()

# bench/accuracy's choice of sequences and its summary, on tiny inputs.
add_test(NAME bench.accuracy_summary COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/accuracy_test.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(bench.accuracy_summary PROPERTIES TIMEOUT 60)
