# The code-page tests need the test converters, built first.
if(TARGET codepages_data)
  target_link_libraries(${name} PRIVATE codepages_data)
  add_dependencies(${name} codepages)
endif()
