# The whole runs preload the progress observer into the updater.
add_dependencies(${name} updtwatch)
target_compile_definitions(${name} PRIVATE UPDTWATCH_LIB="$<TARGET_FILE:updtwatch>")
