# A sound card for the ALSA mixer back end: an ALSA control plugin the tests
# name in an ALSA configuration of their own.
add_library(asound_module_ctl_vozarotest MODULE ${CMAKE_SOURCE_DIR}/tests/support/AlsaTestCard.c)
target_link_libraries(asound_module_ctl_vozarotest PRIVATE PkgConfig::ALSA)
# alsa-lib exports plugin entry points with a version symbol only when built as
# position-independent code that says so.
target_compile_definitions(asound_module_ctl_vozarotest PRIVATE PIC)
add_dependencies(test_platform asound_module_ctl_vozarotest)
target_compile_definitions(test_platform PRIVATE
  VOZARO_ALSA_TEST_CARD="$<TARGET_FILE:asound_module_ctl_vozarotest>")
# The tests read the card back through ALSA itself.
target_link_libraries(test_platform PRIVATE PkgConfig::ALSA)
