# The three tools rnaqubo-fold, rnaqubo-seq and rnaqubo-anneal run the same
# way: every failure one line with its status and no raw control byte; one
# shape of message for the command line, a full standard output on every path,
# outputs that name one file.
if(TARGET rnaqubo-seq AND TARGET rnaqubo-fold)
  add_test(NAME diagnostics.failure_lines
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/failure_lines.sh $<TARGET_FILE:rnaqubo-fold>
                   $<TARGET_FILE:rnaqubo-seq>)
  add_test(NAME diagnostics.tool_frame
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/tool_frame.sh $<TARGET_FILE:rnaqubo-fold>
                   $<TARGET_FILE:rnaqubo-seq> $<TARGET_FILE:rnaqubo-anneal>)
  set_tests_properties(diagnostics.tool_frame PROPERTIES TIMEOUT 300)
endif()
