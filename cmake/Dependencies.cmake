# Libraries come from the system (Debian packages); nothing is vendored.
# Cross builds (Windows, 32-bit ARM) make cJSON and GoogleTest from Debian's
# sources instead, for the target's own word size and calling convention.
if(WIN32 OR CMAKE_CROSSCOMPILING)
  set(LUMIVO_DEPS_FROM_SOURCE ON)
else()
  set(LUMIVO_DEPS_FROM_SOURCE OFF)
endif()

if(NOT LUMIVO_DEPS_FROM_SOURCE)
  find_path(CJSON_INCLUDE_DIR cjson/cJSON.h REQUIRED)
  find_library(CJSON_LIBRARY cjson REQUIRED)
  add_library(lumivo::cjson INTERFACE IMPORTED)
  set_target_properties(lumivo::cjson PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CJSON_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "${CJSON_LIBRARY}")
endif()

if(LUMIVO_DEPS_FROM_SOURCE)
  # cJSON for the cross build: Debian's cjson source package with Debian's
  # patches, fetched once into the build folder.
  include(${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake)
  set(LUMIVO_CJSON_DIR ${CMAKE_BINARY_DIR}/_deps/cjson)
  set(cjson_src ${LUMIVO_CJSON_DIR}/src)
  lumivo_debian_source(cjson ${LUMIVO_CJSON_DIR})
  # The header is included as <cjson/cJSON.h>, as on Debian.
  file(COPY ${cjson_src}/cJSON.h DESTINATION ${LUMIVO_CJSON_DIR}/include/cjson)

  # Compiled as C, and without CJSON_HIDE_SYMBOLS, so cJSON.h marks every
  # function dllexport: the executable exports the cJSON functions under their
  # own names, and nothing else.
  add_library(lumivo-cjson STATIC ${cjson_src}/cJSON.c)
  set_source_files_properties(${cjson_src}/cJSON.c PROPERTIES LANGUAGE C)
  target_compile_options(lumivo-cjson PRIVATE -w)
  target_include_directories(lumivo-cjson PUBLIC ${LUMIVO_CJSON_DIR}/include)
  add_library(lumivo::cjson ALIAS lumivo-cjson)

  # GoogleTest for the cross build, from Debian's googletest package source.
  if(BUILD_TESTING OR NOT DEFINED BUILD_TESTING)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    if(WIN32)
      set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    endif()
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
    # It defines the GTest:: targets itself.
    foreach(lib gtest gtest_main gmock gmock_main)
      target_compile_options(${lib} PRIVATE -w)
    endforeach()
  endif()
endif()

if(NOT WIN32)
  # The POSIX agent's own libcurl (cmake/Curl.cmake), cross-built with the
  # target's compiler in a cross build, and its lean link.
  include(${CMAKE_CURRENT_LIST_DIR}/Curl.cmake)
  include(${CMAKE_CURRENT_LIST_DIR}/LeanExecutable.cmake)
endif()
