# Includes between folders point one way, as docs/architecture.md draws the floors.
add_test(NAME layout.include_layers
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/include_layers.sh ${PROJECT_SOURCE_DIR})
