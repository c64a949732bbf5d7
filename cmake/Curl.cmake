# The agent's libcurl: Debian's curl source package with Debian's patches,
# built static for this build folder with HTTP and HTTPS over OpenSSL and
# nothing else, so that the agent carries no other protocol, compression,
# IDN, HTTP/2 or proxy code and none of the libraries those bring in.
#
# lumivo::agent-curl is that library. The POSIX Internet adapter links it, and
# with it every executable that holds the adapter (the agent, its tests, the
# benchmarks); test helpers that call curl themselves link it too, so that no
# executable ever carries two libcurls. Debian's shared libcurl
# (libcurl4-openssl-dev) stays only for the benchmark's reference client.
#
# The source is fetched at configure time, once; the library is built at build
# time, once (ExternalProject's stamps keep it across re-configures).
include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/DebianSource.cmake)
find_package(OpenSSL REQUIRED)

set(curl_dir ${CMAKE_BINARY_DIR}/_deps/curl)
lumivo_debian_source(curl ${curl_dir})
# Debian builds its OpenSSL flavour without the last two patches of the series,
# which rename the library for the GnuTLS and NSS flavours.
if(NOT EXISTS ${curl_dir}/src/.openssl-flavour)
  foreach(patch 99_nss 90_gnutls)
    execute_process(COMMAND patch -s -R -p1 -i debian/patches/${patch}.patch
      WORKING_DIRECTORY ${curl_dir}/src RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "Could not take ${patch}.patch back out of the curl source")
    endif()
  endforeach()
  file(TOUCH ${curl_dir}/src/.openssl-flavour)
endif()

set(curl_configure_options
  --disable-shared --enable-static --with-pic --disable-dependency-tracking
  --with-openssl
  # Protocols: HTTP and HTTPS only.
  --disable-ftp --disable-file --disable-ldap --disable-ldaps --disable-rtsp --disable-dict
  --disable-telnet --disable-tftp --disable-pop3 --disable-imap --disable-smb --disable-smtp
  --disable-gopher --disable-mqtt --disable-websockets
  # The agent connects directly and sends its own headers.
  --disable-proxy --disable-http-auth --disable-ntlm --disable-ntlm-wb --disable-tls-srp
  --disable-cookies --disable-mime --disable-netrc --disable-alt-svc --disable-hsts
  --disable-doh --disable-unix-sockets --disable-dnsshuffle --disable-get-easy-options
  --disable-headers-api --disable-manual --disable-libcurl-option
  # No other library: compression, IDN, public suffixes, HTTP/2 and 3, SSH, RTMP, GSS-API.
  --without-zlib --without-brotli --without-zstd --without-libidn2 --without-libpsl
  --without-nghttp2 --without-nghttp3 --without-ngtcp2 --without-quiche --without-msh3
  --without-libssh2 --without-libssh --without-wolfssh --without-librtmp --without-libgsasl
  --without-gssapi --without-hyper
  # The adapter sets up its own trust store.
  --without-ca-bundle --without-ca-path --without-ca-fallback)
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine
    OUTPUT_VARIABLE curl_host OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND curl_configure_options --host=${curl_host})
endif()
cmake_host_system_information(RESULT curl_jobs QUERY NUMBER_OF_LOGICAL_CORES)

set(curl_library ${curl_dir}/build/lib/.libs/libcurl.a)
ExternalProject_Add(agent-curl-build
  SOURCE_DIR ${curl_dir}/src
  BINARY_DIR ${curl_dir}/build
  CONFIGURE_COMMAND ${curl_dir}/src/configure -q ${curl_configure_options}
    CC=${CMAKE_C_COMPILER}
    "CFLAGS=-O2 -ffunction-sections -fdata-sections -ffile-prefix-map=${curl_dir}/src/=curl/"
  BUILD_COMMAND make -s -C lib -j${curl_jobs} libcurl.la
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${curl_library}
  LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)

add_library(lumivo-agent-curl INTERFACE)
target_include_directories(lumivo-agent-curl SYSTEM INTERFACE ${curl_dir}/src/include)
target_compile_definitions(lumivo-agent-curl INTERFACE CURL_STATICLIB)
target_link_libraries(lumivo-agent-curl INTERFACE ${curl_library} OpenSSL::SSL OpenSSL::Crypto)
add_dependencies(lumivo-agent-curl agent-curl-build)
add_library(lumivo::agent-curl ALIAS lumivo-agent-curl)
