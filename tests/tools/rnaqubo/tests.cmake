# rnaqubo: end-to-end cases, failures that need the shell, hardening, and the
# differential test against the plain reference build.

# Each folder under cases/ holds the command line, the inputs and every
# expected output; the built binary is run on it and compared byte for byte.
file(GLOB case_dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/cases/*)
foreach(case_dir IN LISTS case_dirs)
  if(IS_DIRECTORY ${case_dir})
    get_filename_component(case_name ${case_dir} NAME)
    add_test(NAME case.${case_name}
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_case.sh $<TARGET_FILE:rnaqubo> ${case_dir})
  endif()
endforeach()

# Failure scenarios that need the shell: file size limits, signals, permissions.
add_test(NAME failures
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/failure_tests.sh $<TARGET_FILE:rnaqubo>)

# A build of rnaqubo with test hooks (named temporaries forced, a failing buffer
# allocation) read from the environment; the shipped binary has none. Its own
# copy of the output file unit replaces the library's at link time.
add_executable(rnaqubo_test_hooks ${PROJECT_SOURCE_DIR}/tools/rnaqubo/main.cpp
               ${PROJECT_SOURCE_DIR}/tools/rnaqubo/run_sequence.cpp ${PROJECT_SOURCE_DIR}/tools/rnaqubo/usage_text.cpp
               ${PROJECT_SOURCE_DIR}/formats/output_file.cpp)
target_compile_definitions(rnaqubo_test_hooks PRIVATE RNAQUBO_TEST_HOOKS)
target_link_libraries(rnaqubo_test_hooks PRIVATE rnaqubo_formats)

# Crashes, kills, resource shortages and hostile names or words: nothing is
# lost, nothing is left behind, and no exception or signal ends a run.
add_test(NAME hardening
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/hardening_tests.sh $<TARGET_FILE:rnaqubo>
                 $<TARGET_FILE:rnaqubo_test_hooks>)

# The test-only reference implementation and the differential test against it.
if(NOT Python3_FOUND)
  message(STATUS "python3 not found: the differential test is skipped")
else()
  include(${CMAKE_CURRENT_LIST_DIR}/reference/tests.cmake)
endif()
