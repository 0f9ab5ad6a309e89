# The end-to-end runs preload the progress observer into the updater.
target_sources(${name} PRIVATE ${d}/e2e_fixture.cpp)
add_dependencies(${name} updtwatch)
target_compile_definitions(${name} PRIVATE UPDTWATCH_LIB="$<TARGET_FILE:updtwatch>")
target_include_directories(${name} PRIVATE ${d}/../analysis)
# The cron daemon stand-in of the backup-setting runs, and the preload that
# makes each of its reloads count.
add_dependencies(${name} crondstub crondsync)
target_compile_definitions(${name} PRIVATE CRONDSTUB_PATH="$<TARGET_FILE:crondstub>"
                           CRONDSYNC_PATH="$<TARGET_FILE:crondsync>")
# The whole run again and again with one allocation failing each time.
add_executable(allocprobe ${CMAKE_CURRENT_LIST_DIR}/allocprobe.cpp)
target_link_libraries(allocprobe PRIVATE updaterlib vexasdk failcall)
add_dependencies(${name} allocprobe)
target_compile_definitions(${name} PRIVATE ALLOCPROBE_PATH="$<TARGET_FILE:allocprobe>")
