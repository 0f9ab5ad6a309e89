# Failures of single calls on request.
target_link_libraries(${name} PRIVATE failcall)
