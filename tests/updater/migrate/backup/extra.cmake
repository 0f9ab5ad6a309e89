# The cron daemon stand-in that the probe starts inside the root, and the
# preload that makes each of its reloads count.
add_dependencies(${name} crondstub crondsync)
target_compile_definitions(${name} PRIVATE CRONDSTUB_PATH="$<TARGET_FILE:crondstub>"
                           CRONDSYNC_PATH="$<TARGET_FILE:crondsync>")
