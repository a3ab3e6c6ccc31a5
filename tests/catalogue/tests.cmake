# The crash test runs the start-up check in a process of its own and kills it.
if(VOZARO_TOOLS)
  add_dependencies(test_catalogue vozaro-checkalbum)
  target_compile_definitions(test_catalogue PRIVATE
    VOZARO_CHECKALBUM="$<TARGET_FILE:vozaro-checkalbum>")
endif()
# The importer is run as the host runs it, two at once and killed midway.
if(VOZARO_TOOLS)
  add_dependencies(test_catalogue vozaro-importar)
  target_compile_definitions(test_catalogue PRIVATE
    VOZARO_IMPORTAR="$<TARGET_FILE:vozaro-importar>")
endif()
