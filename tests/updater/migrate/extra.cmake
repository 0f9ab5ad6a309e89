# The cron daemon stand-in that the probe starts inside the root.
add_dependencies(${name} crondstub)
target_compile_definitions(${name} PRIVATE CRONDSTUB_PATH="$<TARGET_FILE:crondstub>")
