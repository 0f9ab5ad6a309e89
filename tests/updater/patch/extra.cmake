# The flash-stage stand-in that the tests run inside the appliance root.
add_executable(patchprobe ${CMAKE_CURRENT_LIST_DIR}/patchprobe.cpp)
target_link_libraries(patchprobe PRIVATE updaterlib vexasdk)
add_dependencies(${name} patchprobe)
target_compile_definitions(${name} PRIVATE PATCHPROBE_PATH="$<TARGET_FILE:patchprobe>")
# The MSys sequence with a migration that fails on demand.
add_executable(msysprobe ${CMAKE_CURRENT_LIST_DIR}/msysprobe.cpp)
target_link_libraries(msysprobe PRIVATE updaterlib vexasdk)
add_dependencies(${name} msysprobe)
target_compile_definitions(${name} PRIVATE MSYSPROBE_PATH="$<TARGET_FILE:msysprobe>")
