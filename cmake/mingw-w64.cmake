# Cross build for 64-bit Windows with Debian's mingw-w64 (g++ 12), runtime
# linked statically so the .exe needs nothing beside it. Programs of the
# build (tests, test discovery) run under Wine in a prefix of the build's own.
# mingw-w64-i686.cmake sets the 32-bit triple first and includes this file.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT LUMIVO_MINGW_TRIPLE)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(LUMIVO_MINGW_TRIPLE x86_64-w64-mingw32)
endif()
# The posix thread model: GoogleTest needs std::mutex.
set(CMAKE_C_COMPILER ${LUMIVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMIVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMIVO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMIVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# wine-run.sh takes the folder that holds the Wine prefix (and the Xvfb
# display of the tests) as its first argument.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../platform/win32/wine-run.sh ${CMAKE_BINARY_DIR}/wine)
