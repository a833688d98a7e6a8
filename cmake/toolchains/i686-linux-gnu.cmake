# 32-bit target, where off_t and long are 32 bits unless asked otherwise.
# Debian: g++-i686-linux-gnu; its programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HEXFOLD_CROSS_TRIPLE i686-linux-gnu)
set(HEXFOLD_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
