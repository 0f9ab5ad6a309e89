# The probe that the flash tests run under the simulated kernel.
add_executable(mtdprobe ${CMAKE_CURRENT_LIST_DIR}/mtdprobe.cpp)
target_link_libraries(mtdprobe PRIVATE vexasdk)
add_dependencies(${name} mtdprobe)
target_compile_definitions(${name} PRIVATE MTDPROBE_PATH="$<TARGET_FILE:mtdprobe>")
