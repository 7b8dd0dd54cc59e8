# Common part of the toolchain files for Debian's cross compilers
# (<triple>-gcc, <triple>-g++ with their C library under /usr/<triple>).
# The including file sets CROSS_TRIPLE and CMAKE_SYSTEM_PROCESSOR.
#
# Programs are linked statically, so that they run under qemu-user (or on
# the host itself, for i386) without a copy of the target's libraries.
#
# CROSS_EMULATOR (cache): the program that runs target binaries on this
# machine, e.g. qemu-ppc; empty when the host runs them itself. CTest and
# gtest_discover_tests start the test binaries through it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CROSS_EMULATOR "" CACHE STRING "Runs target binaries on the build machine")
if(CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_EMULATOR})
endif()
