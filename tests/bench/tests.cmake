# The benchmark's helpers and a tiny end-to-end run of bench/run (no timing asserted).
if(TARGET rnaqubo_reference)
  add_test(NAME bench_script
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/bench_test.sh
                   $<TARGET_FILE:rnaqubo> $<TARGET_FILE:rnaqubo_reference>)
endif()
