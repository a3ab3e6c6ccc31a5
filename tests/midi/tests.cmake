# The corpus read by vozaro-mididump compared with the independent reader mido
# (python3-mido, seen by the system Python).  Left out when the tools are not
# built, or by the script itself when the corpus or mido is missing.
if(VOZARO_TOOLS)
  find_program(VOZARO_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT VOZARO_SYSTEM_PYTHON)
    find_program(VOZARO_SYSTEM_PYTHON python3)
  endif()
  add_test(NAME midi.CompareWithMido
           COMMAND ${VOZARO_SYSTEM_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/compare_with_mido.py
                   $<TARGET_FILE:vozaro-mididump> ${VOZARO_CORPUS_DIR})
  set_tests_properties(midi.CompareWithMido PROPERTIES LABELS midi SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()
