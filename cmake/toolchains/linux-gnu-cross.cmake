# Shared by the Debian cross toolchain files: HEXFOLD_CROSS_TRIPLE names the
# compiler and the directory that holds the target's libraries,
# HEXFOLD_CROSS_QEMU the qemu-user program that runs the target's code.
set(CMAKE_C_COMPILER ${HEXFOLD_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${HEXFOLD_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${HEXFOLD_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Without -L, qemu-user looks for the target's loader among the host's files.
set(CMAKE_CROSSCOMPILING_EMULATOR ${HEXFOLD_CROSS_QEMU} -L /usr/${HEXFOLD_CROSS_TRIPLE})
