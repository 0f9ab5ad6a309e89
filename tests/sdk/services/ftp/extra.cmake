# A failed sync of the rewrite's temporary file.
target_link_libraries(${name} PRIVATE failcall)
