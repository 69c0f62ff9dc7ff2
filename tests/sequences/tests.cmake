# The sequence library: the letter rules, the round trip through rnaqubo,
# untrusted indexes, standard input, and Stockholm alignments (hand-worked
# cases and Infernal's test suite against a second implementation in Python).
# They run through rnaqubo-seq, which is built when htslib was found.
set(seq_tests_dir ${CMAKE_CURRENT_LIST_DIR})

if(GTest_FOUND AND TARGET rnaqubo_sequences)
  add_executable(sequence_letters_test ${seq_tests_dir}/sequence_letters_test.cpp)
  target_link_libraries(sequence_letters_test PRIVATE rnaqubo_sequences GTest::gtest_main)
  gtest_discover_tests(sequence_letters_test DISCOVERY_TIMEOUT 60)
endif()

if(TARGET rnaqubo-seq)
  add_test(NAME seq.round_trip
           COMMAND bash ${seq_tests_dir}/round_trip.sh $<TARGET_FILE:rnaqubo-seq>
                   $<TARGET_FILE:rnaqubo> ${PROJECT_SOURCE_DIR}/examples)
  set_tests_properties(seq.round_trip PROPERTIES LABELS seq TIMEOUT 120)

  # Damaged and lying faidx indexes: never trusted blindly, never a crash.
  add_test(NAME seq.index_trust COMMAND bash ${seq_tests_dir}/index_trust.sh $<TARGET_FILE:rnaqubo-seq>)
  set_tests_properties(seq.index_trust PROPERTIES LABELS seq TIMEOUT 600 SKIP_RETURN_CODE 77)

  add_test(NAME seq.stockholm_cases COMMAND bash ${seq_tests_dir}/stockholm_cases.sh $<TARGET_FILE:rnaqubo-seq>)
  set_tests_properties(seq.stockholm_cases PROPERTIES LABELS seq TIMEOUT 120)
  add_test(NAME seq.stockholm_infernal COMMAND bash ${seq_tests_dir}/stockholm_infernal.sh $<TARGET_FILE:rnaqubo-seq>)
  set_tests_properties(seq.stockholm_infernal PROPERTIES LABELS seq TIMEOUT 900 SKIP_RETURN_CODE 77)

  # Standard input against the same file given by path, Stockholm and FASTA.
  add_test(NAME seq.stdin_cases
           COMMAND bash ${seq_tests_dir}/stdin_cases.sh $<TARGET_FILE:rnaqubo-seq> ${PROJECT_SOURCE_DIR})
  set_tests_properties(seq.stdin_cases PROPERTIES LABELS seq TIMEOUT 300)
endif()
