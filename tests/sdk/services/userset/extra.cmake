# fsync made to fail on the chroot list's temporary file; a store into one
# cache file made to fail.
target_link_libraries(${name} PRIVATE failcall ${CMAKE_DL_LIBS})
target_sources(${name} PRIVATE ${d}/failput.cpp)
target_include_directories(${name} PRIVATE ${BDB185_INCLUDE})
target_compile_definitions(${name} PRIVATE VEXA_BDB_LIBRARY="${BDB_LIBRARY}")
