# One folder, one target; includes go only where docs/architecture.md allows.
add_test(NAME layout.include_targets
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/include_targets.sh ${PROJECT_SOURCE_DIR})
# The check itself refuses each kind of fault.
add_test(NAME layout.include_targets_faults
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/include_targets_test.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(layout.include_targets layout.include_targets_faults PROPERTIES LABELS layout TIMEOUT 120)
