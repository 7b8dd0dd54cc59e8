# 32-bit big-endian PowerPC, the receiver's own CPU (Debian's
# g++-powerpc-linux-gnu). See cross-linux.cmake.
set(CROSS_TRIPLE powerpc-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
