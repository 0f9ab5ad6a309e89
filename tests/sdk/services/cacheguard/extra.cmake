# Allocations made to fail inside the C entries of the account families.
target_link_libraries(${name} PRIVATE failcall)
# A "/tmp" of 1 KiB blocks, as fstat reports it.
add_dependencies(${name} smallblocks)
target_compile_definitions(${name} PRIVATE SMALLBLOCKS_LIB="$<TARGET_FILE:smallblocks>")
