# The phone requests' tests talk to the web server through Qt Network.
if(TARGET test_stage)
  target_link_libraries(test_stage PRIVATE Qt6::Network)
endif()
# vozaro-letra over every song of the corpus (skipped without the corpus).
if(VOZARO_TOOLS)
  find_program(VOZARO_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
  add_test(NAME stage.VozaroLetraCorpus
           COMMAND ${VOZARO_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_letra.py
                   $<TARGET_FILE:vozaro-letra> ${VOZARO_CORPUS_DIR})
  set_tests_properties(stage.VozaroLetraCorpus PROPERTIES LABELS stage SKIP_RETURN_CODE 77
                       TIMEOUT 600 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()

# The singers' screen on an X server with two screens (Xvfb).
if(TARGET test_stage)
  add_test(NAME stage.SingersScreenOnTwoScreens
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/check_singers_screen.sh
                   $<TARGET_FILE:test_stage> ${CMAKE_BINARY_DIR}/screenshots)
  set_tests_properties(stage.SingersScreenOnTwoScreens PROPERTIES LABELS stage SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()

# The host's page in headless Chromium, driven from the stage test that
# serves it (skipped without Chromium or Selenium).
if(TARGET test_stage)
  target_compile_definitions(test_stage PRIVATE
    VOZARO_HOST_BROWSER_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/../phone/check_host_browser.py")
endif()
