# Help, version, install layout and manual page, and the examples shown in the
# guide (README.md and docs/guide/) and the manual page, compared with real
# runs of the built tools; the guide's links lead to files and headings.
set(docs_tests_dir ${CMAKE_CURRENT_LIST_DIR})

foreach(mode IN ITEMS help short_help version usage_error)
  add_test(NAME docs.${mode}
           COMMAND bash ${docs_tests_dir}/command_line.sh $<TARGET_FILE:rnaqubo> ${mode}
                   ${PROJECT_VERSION})
endforeach()

add_test(NAME docs.install_layout
         COMMAND bash ${docs_tests_dir}/install_layout.sh ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR}
                 "$<CONFIG>" ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}
                 ${PROJECT_SOURCE_DIR}/docs/rnaqubo.1 ${PROJECT_VERSION})

add_test(NAME docs.man_page
         COMMAND bash ${docs_tests_dir}/man_page.sh ${PROJECT_SOURCE_DIR}/docs/rnaqubo.1
                 ${PROJECT_VERSION})

add_test(NAME docs.examples
         COMMAND bash ${docs_tests_dir}/doc_examples.sh $<TARGET_FILE:rnaqubo> ${PROJECT_SOURCE_DIR}
                 $<TARGET_FILE:rnaqubo-fold>)

add_test(NAME docs.readme_python
         COMMAND bash ${docs_tests_dir}/readme_python.sh $<TARGET_FILE:rnaqubo> ${PROJECT_SOURCE_DIR}
                 ${PROJECT_BINARY_DIR}/python)

add_test(NAME docs.links COMMAND bash ${docs_tests_dir}/doc_links.sh ${PROJECT_SOURCE_DIR})

# 77: the tool the test needs (groff or man, python3) is not installed.
set_tests_properties(docs.man_page docs.readme_python docs.links PROPERTIES SKIP_RETURN_CODE 77)
set_tests_properties(docs.help docs.short_help docs.version docs.usage_error
                     docs.install_layout docs.man_page docs.examples docs.readme_python docs.links
                     PROPERTIES LABELS docs TIMEOUT 120)
