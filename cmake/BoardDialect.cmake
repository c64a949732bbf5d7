# The code that goes onto the board is written in the common part of C++03
# (the board's compiler, Visual Studio 2008, takes no more) and C++17, and is
# compiled as C++03 in every build, so the build itself keeps it that way.
# The tests, the fuzzers, the benchmarks and the POSIX adapter stay C++17.

# C++03 as the board's documentation names it (GCC's c++98 is the same).
set(CMAKE_CXX98_STANDARD_COMPILE_OPTION -std=c++03)

# lumivo_board_dialect(target...): compiles each target's own sources as
# strict C++03 (long long allowed: Visual Studio 2008 takes it).
function(lumivo_board_dialect)
  foreach(target ${ARGN})
    set_target_properties(${target} PROPERTIES CXX_STANDARD 98 CXX_EXTENSIONS OFF)
    target_compile_options(${target} PRIVATE -pedantic-errors -Wno-long-long)
  endforeach()
endfunction()
