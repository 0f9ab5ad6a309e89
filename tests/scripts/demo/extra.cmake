# The demo runs the tools of this build from a build folder of its own.
add_dependencies(${name} updtwatch updtresult)
target_compile_definitions(${name} PRIVATE VEXA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                           UPDTWATCH_LIB="$<TARGET_FILE:updtwatch>" UPDTRESULT_BIN="$<TARGET_FILE:updtresult>"
                           SIMFLASH_BIN="$<TARGET_FILE:simflash>" SIMKERNEL_LIB="$<TARGET_FILE:simkernel>")
