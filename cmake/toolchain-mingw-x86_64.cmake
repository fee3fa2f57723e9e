# Cross-build for 64-bit Windows with Debian's MinGW-w64 (package mingw-w64).
# The posix thread model gives the C++ standard library its threads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QP_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
