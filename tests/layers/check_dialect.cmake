# Checks the code that goes onto the board for the common dialect of C++03
# and C++17, beyond what the build compiles (the build compiles the board's
# libraries as C++03 already, see cmake/BoardDialect.cmake):
#  - no file of it includes <stdint.h>, <cstdint>, <inttypes.h> or
#    <cinttypes>: the board's C library has none of them, and glibc's compile
#    as C++03 without a word;
#  - every header and every source of the core compiles on its own as strict
#    C++03, warnings being errors, with no definitions from our build (as a
#    board project that takes the files as they are compiles them).
#
# cmake -DROOT=<source tree> -DCXX=<compiler> [-DINCLUDES=<dir;...>]
#       [-DEXTRA_HEADERS=<glob;...>] [-DEXTRA_FLAGS=<flag;...>] -P check_dialect.cmake
# EXTRA_HEADERS adds headers of a platform's adapter (globs below ROOT) that
# the given compiler can take.

set(scanned base/* cloud/* connections/* ui/* app/* platform/*.h platform/win32/*
            platform/win32/ce7/* resources/resource.h)
set(headers base/*.h cloud/*.h connections/*.h ui/*.h app/*.h platform/*.h
            resources/resource.h base/*.cpp cloud/*.cpp connections/*.cpp ui/*.cpp
            app/*.cpp ${EXTRA_HEADERS})

set(faults 0)
foreach(pattern ${scanned})
  file(GLOB files RELATIVE ${ROOT} ${ROOT}/${pattern})
  foreach(file ${files})
    file(STRINGS ${ROOT}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*<(cstdint|stdint\\.h|inttypes\\.h|cinttypes)>")
    foreach(line ${lines})
      message("${file}: ${line}: the board's C library has no such header; "
              "fixed-width types come from platform/portable.h")
      math(EXPR faults "${faults} + 1")
    endforeach()
  endforeach()
endforeach()

# Each header is compiled as the only include of an empty source.
set(empty ${CMAKE_CURRENT_BINARY_DIR}/board_dialect_empty.cpp)
file(WRITE ${empty} "")
set(include_flags -I${ROOT})
foreach(dir ${INCLUDES})
  list(APPEND include_flags -I${dir})
endforeach()
foreach(pattern ${headers})
  file(GLOB files RELATIVE ${ROOT} ${ROOT}/${pattern})
  foreach(file ${files})
    execute_process(
      COMMAND ${CXX} -std=c++03 -pedantic-errors -Wno-long-long -Wall -Wextra -Werror
              -fsyntax-only ${include_flags} ${EXTRA_FLAGS} -include ${ROOT}/${file}
              -x c++ ${empty}
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      message("${file} does not compile on its own as C++03:\n${output}")
      math(EXPR faults "${faults} + 1")
    endif()
  endforeach()
endforeach()

if(faults GREATER 0)
  message(FATAL_ERROR "${faults} faults of the board's dialect")
endif()
