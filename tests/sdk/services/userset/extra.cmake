# fsync made to fail on the chroot list's temporary file.
target_link_libraries(${name} PRIVATE failcall)
