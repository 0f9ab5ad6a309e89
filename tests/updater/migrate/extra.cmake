# Failures of single calls on request, inside the probe.
target_link_libraries(${name} PRIVATE failcall)
