# The pitch tests sing the bundled songs made in <build>/share/vozaro.
target_compile_definitions(test_sound PRIVATE VOZARO_CONTENT_DIR="${CMAKE_BINARY_DIR}/share/vozaro")
add_dependencies(test_sound vozaro_content)
