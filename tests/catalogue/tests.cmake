# The crash test runs the start-up check in a process of its own and kills it.
if(VOZARO_TOOLS)
  add_dependencies(test_catalogue vozaro-checkalbum)
  target_compile_definitions(test_catalogue PRIVATE
    VOZARO_CHECKALBUM="$<TARGET_FILE:vozaro-checkalbum>")
endif()
