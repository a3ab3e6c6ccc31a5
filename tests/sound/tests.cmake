# The pitch tests sing the bundled songs made in <build>/share/vozaro.
target_compile_definitions(test_sound PRIVATE VOZARO_CONTENT_DIR="${CMAKE_BINARY_DIR}/share/vozaro")
add_dependencies(test_sound vozaro_content)
# The restart test runs a server of its own through the same script.
target_compile_definitions(test_sound PRIVATE VOZARO_SOUND_SERVER_SCRIPT="${CMAKE_SOURCE_DIR}/scripts/sound-server.sh")
