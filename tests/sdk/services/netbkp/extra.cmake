# A crypt() that fails as libcrypt's does, preloaded into one probe run.
add_dependencies(${name} cryptfail)
target_compile_definitions(${name} PRIVATE CRYPTFAIL_LIB="$<TARGET_FILE:cryptfail>")
