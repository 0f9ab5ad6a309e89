# The stand-in code-page converters for the LAN Manager hashes.
target_link_libraries(${name} PRIVATE codepages_data)
add_dependencies(${name} codepages)
