# Cross build for 32-bit ARM Linux (hard-float EABI): the board's processor
# and word size (4-byte pointers, long and size_t; unsigned char). Programs of
# the build (the tests, their discovery) run under qemu-arm's user-mode
# emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(LUMIVO_ARM_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${LUMIVO_ARM_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${LUMIVO_ARM_TRIPLE}-g++)

# The toolchain's own sysroot, and the root for Debian's armhf libraries
# (multiarch: /usr/lib/arm-linux-gnueabihf, /usr/include/arm-linux-gnueabihf).
set(CMAKE_FIND_ROOT_PATH /usr/${LUMIVO_ARM_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# With Debian's armhf C library installed (scripts/setup.sh installs it with the
# armhf libraries of the POSIX adapters), the programs load the target's own
# libraries from the host's multiarch folders; the cross toolchain's copy of
# the C library is another build of it and must not be mixed in.
if(EXISTS /lib/ld-linux-armhf.so.3)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${LUMIVO_ARM_TRIPLE})
endif()

# pkg-config (which FindCURL and FindOpenSSL ask first) must list the target's
# libraries, not the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${LUMIVO_ARM_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# GCC notes on every function that passes a struct with a 64-bit member that
# its ABI changed in GCC 7.1 ("-Wpsabi"); all of this build is made with one
# compiler, so the notes say nothing about it.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
