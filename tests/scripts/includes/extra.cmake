# The check reads the source tree's updater and SDK folders.
target_compile_definitions(${name} PRIVATE VEXA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
