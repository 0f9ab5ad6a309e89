# The probe the self-tests run inside roots.
target_compile_definitions(${name} PRIVATE APPROOT_PROBE="$<TARGET_FILE:approot_probe>")
add_dependencies(${name} approot_probe)
