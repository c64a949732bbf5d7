# lumivo_debian_source(PACKAGE DIR): Debian's source package PACKAGE with
# Debian's patches applied, unpacked once into DIR/src (left alone when it is
# already there). apt works on lists of its own here, so the machine's package
# lists stay as they are.
function(lumivo_debian_source package dir)
  if(EXISTS ${dir}/src/debian/changelog)
    return()
  endif()
  set(apt_dir ${dir}/apt)
  file(REMOVE_RECURSE ${dir}/src ${dir}/download)
  file(MAKE_DIRECTORY ${apt_dir}/lists/partial ${apt_dir}/cache/archives/partial ${dir}/download)
  file(STRINGS /etc/apt/sources.list.d/debian.sources deb_sources)
  list(TRANSFORM deb_sources REPLACE "^Types: deb$" "Types: deb-src")
  list(JOIN deb_sources "\n" deb_sources)
  file(WRITE ${apt_dir}/deb-src.sources "${deb_sources}\n")
  set(apt_options
    -o Dir::Etc::sourcelist=${apt_dir}/deb-src.sources -o Dir::Etc::sourceparts=-
    -o Dir::State::Lists=${apt_dir}/lists -o Dir::Cache=${apt_dir}/cache
    -o Debug::NoLocking=1)
  message(STATUS "Fetching Debian's ${package} source package")
  execute_process(COMMAND apt-get ${apt_options} -qq update RESULT_VARIABLE result)
  if(result EQUAL 0)
    execute_process(COMMAND apt-get ${apt_options} -qq source --download-only ${package}
      WORKING_DIRECTORY ${dir}/download RESULT_VARIABLE result)
  endif()
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Could not fetch the ${package} source package from Debian (apt-get: ${result})")
  endif()
  file(GLOB dsc ${dir}/download/${package}_*.dsc)
  execute_process(COMMAND dpkg-source -q -x ${dsc} ${dir}/src
    RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0 OR NOT EXISTS ${dir}/src/debian/changelog)
    message(FATAL_ERROR "Could not unpack ${dsc} (dpkg-source: ${result})")
  endif()
  # dpkg-source leaves a link to the upstream tarball beside the tree.
  file(GLOB upstream ${dir}/${package}_*.orig.tar.*)
  file(REMOVE_RECURSE ${apt_dir} ${dir}/download ${upstream})
endfunction()
