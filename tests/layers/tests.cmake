# The layer rule of the sources, checked on the sources themselves.
add_test(NAME layers.CheckLayers
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/layers/check_layers_test.sh
                 ${CMAKE_SOURCE_DIR}/scripts/check-layers.sh ${CMAKE_SOURCE_DIR}/src)
set_tests_properties(layers.CheckLayers PROPERTIES LABELS layers)
