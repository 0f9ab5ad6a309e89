# crypt() made to fail as libcrypt does.
target_link_libraries(${name} PRIVATE failcall)
