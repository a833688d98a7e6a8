# Big-endian 64-bit target: the byte order that the pair table depends on.
# Debian: g++-s390x-linux-gnu; its programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(HEXFOLD_CROSS_TRIPLE s390x-linux-gnu)
set(HEXFOLD_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
