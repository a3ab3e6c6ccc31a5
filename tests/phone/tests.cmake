# The phone server's tests talk to the web server through Qt Network.
if(TARGET test_phone)
  target_link_libraries(test_phone PRIVATE Qt6::Network)
endif()
if(VOZARO_TOOLS)
  find_program(VOZARO_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
endif()
# The guests' page in headless Chromium at a phone's size, served by
# vozaro-pedidos on 127.0.0.1 (skipped without Chromium or Selenium).
if(VOZARO_TOOLS)
  add_test(NAME phone.PhonePageInBrowser
           COMMAND ${VOZARO_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/check_phone_browser.py
                   $<TARGET_FILE:vozaro-pedidos> ${CMAKE_BINARY_DIR}/screenshots)
  set_tests_properties(phone.PhonePageInBrowser PROPERTIES LABELS phone SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
