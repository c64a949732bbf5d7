# The board's compiler stand-in: the 32-bit ARM cross compiler, for a
# compile-only check of the board's code against the Compact 7 stand-in
# headers (cmake/WinCE.cmake). Nothing is linked: there is no Compact runtime
# here, so the compiler's test programs are static libraries.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(LUMIVO_WINCE ON CACHE BOOL "Compile-only check for Windows Embedded Compact 7" FORCE)
