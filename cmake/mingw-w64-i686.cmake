# Cross build for 32-bit Windows: the word size of the device's API (4-byte
# WPARAM, LPARAM, handles and pointers). This kernel cannot execute 32-bit x86
# code, so the build's programs are compiled and linked here but not run.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(LUMIVO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
