# 32-bit little-endian x86 (Debian's g++-i686-linux-gnu): 32-bit sizes and
# time values without the byte order change. See cross-linux.cmake.
set(CROSS_TRIPLE i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
