# The bundled content: the song compiler, and the songs, pictures and sounds
# it made in <build>/share/vozaro.
target_link_libraries(test_content PRIVATE vozaro_songsource)
target_compile_definitions(test_content PRIVATE VOZARO_CONTENT_DIR="${CMAKE_BINARY_DIR}/share/vozaro")
add_dependencies(test_content vozaro_content)
