# An independent MD4 and DES to check the hashes against, and the stand-in
# code-page converters for the LAN Manager hash.
if(NOT TARGET PkgConfig::NETTLE)
  pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
endif()
target_link_libraries(${name} PRIVATE PkgConfig::NETTLE codepages_data)
add_dependencies(${name} codepages)
