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
  # patches, fetched once into the build folder with apt-get and dpkg-source.
  # apt works on lists of its own here, so the machine's package lists stay
  # as they are.
  set(LUMIVO_CJSON_DIR ${CMAKE_BINARY_DIR}/_deps/cjson)
  set(cjson_src ${LUMIVO_CJSON_DIR}/src)
  if(NOT EXISTS ${cjson_src}/cJSON.c)
    set(apt_dir ${LUMIVO_CJSON_DIR}/apt)
    file(MAKE_DIRECTORY ${apt_dir}/lists/partial ${apt_dir}/cache/archives/partial
         ${LUMIVO_CJSON_DIR}/download)
    file(STRINGS /etc/apt/sources.list.d/debian.sources deb_sources)
    list(TRANSFORM deb_sources REPLACE "^Types: deb$" "Types: deb-src")
    list(JOIN deb_sources "\n" deb_sources)
    file(WRITE ${apt_dir}/deb-src.sources "${deb_sources}\n")
    set(apt_options
      -o Dir::Etc::sourcelist=${apt_dir}/deb-src.sources -o Dir::Etc::sourceparts=-
      -o Dir::State::Lists=${apt_dir}/lists -o Dir::Cache=${apt_dir}/cache
      -o Debug::NoLocking=1)
    message(STATUS "Fetching Debian's cjson source package")
    execute_process(COMMAND apt-get ${apt_options} -qq update
      RESULT_VARIABLE result)
    if(result EQUAL 0)
      execute_process(COMMAND apt-get ${apt_options} -qq source --download-only cjson
        WORKING_DIRECTORY ${LUMIVO_CJSON_DIR}/download RESULT_VARIABLE result)
    endif()
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "Could not fetch the cjson source package from Debian (apt-get: ${result})")
    endif()
    file(GLOB cjson_dsc ${LUMIVO_CJSON_DIR}/download/cjson_*.dsc)
    execute_process(COMMAND dpkg-source -q -x ${cjson_dsc} ${cjson_src}
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR NOT EXISTS ${cjson_src}/cJSON.c)
      message(FATAL_ERROR "Could not unpack ${cjson_dsc} (dpkg-source: ${result})")
    endif()
    file(REMOVE_RECURSE ${apt_dir})
  endif()
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
