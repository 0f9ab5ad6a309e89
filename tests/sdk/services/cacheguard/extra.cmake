# Allocations made to fail inside the C entries of the account families.
target_link_libraries(${name} PRIVATE failcall)
