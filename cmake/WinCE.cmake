# Compile-only check of the board's code for Windows Embedded Compact 7 on
# ARM: every source of the core and of the Windows adapter (its entry point
# included), in the board compiler's C++03, with 16-bit wchar_t and the
# Compact defines, against our stand-in headers (platform/win32/ce7) and no
# desktop Windows header. Every _WIN32_WCE branch and every Compact size check
# is compiled. The objects are not linked (there is no Compact runtime here).
#
# _WIN32 stays undefined: the board's compiler defines it, but nothing of
# ours asks for it, and cJSON's header would then want the desktop compiler's
# __declspec.

# The cJSON header of Debian's package (libcjson-dev, as the host build uses),
# alone in a folder of its own, so that no other host header is on the path.
find_path(LUMIVO_CJSON_HEADER_DIR cjson/cJSON.h PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(cjson_include ${CMAKE_BINARY_DIR}/_deps/cjson/include)
file(COPY ${LUMIVO_CJSON_HEADER_DIR}/cjson/cJSON.h DESTINATION ${cjson_include}/cjson)

file(GLOB board_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/base/*.cpp
  ${PROJECT_SOURCE_DIR}/cloud/*.cpp
  ${PROJECT_SOURCE_DIR}/connections/*.cpp
  ${PROJECT_SOURCE_DIR}/ui/*.cpp
  ${PROJECT_SOURCE_DIR}/app/*.cpp
  ${PROJECT_SOURCE_DIR}/platform/win32/*.cpp)

# The flag as the board's documentation names the dialect (GCC's c++98 is the same).
set(CMAKE_CXX98_STANDARD_COMPILE_OPTION -std=c++03)
add_library(lumivo-wince OBJECT ${board_sources})
set_target_properties(lumivo-wince PROPERTIES CXX_STANDARD 98 CXX_EXTENSIONS OFF)
target_include_directories(lumivo-wince PRIVATE
  ${PROJECT_SOURCE_DIR}/platform/win32/ce7 ${PROJECT_SOURCE_DIR} ${cjson_include})
target_compile_definitions(lumivo-wince PRIVATE
  _WIN32_WCE=0x700 UNDER_CE UNICODE _UNICODE
  LUMIVO_SERVICE_BASE_URL="${LUMIVO_SERVICE_BASE_URL}")
# Visual Studio 2008 takes long long; everything else is strict C++03. What
# Compact's C library lacks is refused (compact_crt.h).
target_compile_options(lumivo-wince PRIVATE -fshort-wchar -pedantic-errors -Wno-long-long
  -include ${PROJECT_SOURCE_DIR}/platform/win32/ce7/compact_crt.h)
