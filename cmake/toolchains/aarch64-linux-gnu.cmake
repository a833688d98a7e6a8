# 64-bit Arm target, whose vector unit is AdvSIMD.
# Debian: g++-aarch64-linux-gnu; its programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(HEXFOLD_CROSS_TRIPLE aarch64-linux-gnu)
set(HEXFOLD_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
