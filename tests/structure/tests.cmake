# Reference structures, scoring and arc diagrams: unit tests, and the picture
# rendered by a real SVG renderer and checked.
set(structure_tests_dir ${CMAKE_CURRENT_LIST_DIR})

if(GTest_FOUND)
  add_executable(structure_tests ${structure_tests_dir}/structure_test.cpp)
  target_link_libraries(structure_tests PRIVATE rnaqubo_structure GTest::gtest_main)
  gtest_discover_tests(structure_tests DISCOVERY_TIMEOUT 60)
endif()

add_executable(draw_arcs ${structure_tests_dir}/draw_arcs.cpp)
target_link_libraries(draw_arcs PRIVATE rnaqubo_structure)

add_test(NAME structure.render
         COMMAND /usr/bin/python3 ${structure_tests_dir}/render_test.py $<TARGET_FILE:draw_arcs>
                 ${PROJECT_SOURCE_DIR}/examples)
# 77: rsvg-convert or the imaging module is not installed.
set_tests_properties(structure.render PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)

add_test(NAME structure.fold_options
         COMMAND bash ${structure_tests_dir}/fold_options.sh $<TARGET_FILE:rnaqubo-fold>)
set_tests_properties(structure.fold_options PROPERTIES TIMEOUT 120)

# rnaqubo-fold --draw: both layouts in SVG, PNG and PDF rendered by rsvg-convert
# and pdftoppm and checked pair by pair; names escaped; missing programs refused.
add_test(NAME structure.drawings
         COMMAND /usr/bin/python3 ${structure_tests_dir}/drawings_test.py $<TARGET_FILE:rnaqubo-fold>
                 $<TARGET_FILE:rnaqubo> ${PROJECT_SOURCE_DIR}/examples)
# 77: rsvg-convert, pdftoppm, the imaging module, java or VARNA is not installed.
set_tests_properties(structure.drawings PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

# rnaqubo-fold --dot-plot: every listed pair probability drawn with its area,
# the optimum and the reference below the diagonal, SVG, PNG and PDF rendered
# by rsvg-convert and pdftoppm; Model.dot_plot drawing the same grid.
if(RNAQUBO_PYTHON AND NOT RNAQUBO_SANITIZE)
  add_test(NAME structure.dot_plot
           COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=$<TARGET_FILE_DIR:rnaqubo_python>
                   /usr/bin/python3 ${structure_tests_dir}/dot_plot_test.py $<TARGET_FILE:rnaqubo-fold>
                   ${PROJECT_SOURCE_DIR}/examples)
else()
  add_test(NAME structure.dot_plot
           COMMAND /usr/bin/python3 ${structure_tests_dir}/dot_plot_test.py $<TARGET_FILE:rnaqubo-fold>
                   ${PROJECT_SOURCE_DIR}/examples)
endif()
# 77: rsvg-convert, pdftoppm or the imaging module is not installed.
set_tests_properties(structure.dot_plot PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

# rnaqubo-fold --layout 2d on the tRNA (beside its reference, and a wrong
# selection), SRP and vault RNAs: pairs per colour and panel against the legend,
# helices apart, texts of 8 pt at the stated width.
add_test(NAME structure.twod_layout
         COMMAND /usr/bin/python3 ${structure_tests_dir}/twod_test.py $<TARGET_FILE:rnaqubo-fold>
                 $<TARGET_FILE:rnaqubo> ${PROJECT_SOURCE_DIR}/examples)
# 77: java or VARNA is not installed.
set_tests_properties(structure.twod_layout PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
