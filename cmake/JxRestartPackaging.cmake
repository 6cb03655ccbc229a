# Debian packages from the install components (cpack -G DEB, or `make deb`,
# which configures for /usr and runs lintian on the result):
#   libjxrestart1        runtime      the shared library, with its symbols file
#   libjxrestart-dev     development  headers, CMake package, pkg-config, link
#   jxrestart            tool         the tool, its man page and completion
#   libznlib             host         the replacement host debug-log library
# The old-string-ABI build makes libjxrestartabi0-1 and libjxrestartabi0-dev,
# which install beside the default build's packages.
string(TOLOWER "${JXRESTART_LIBRARY_NAME}" _jx_lib)
set(_jx_runtime "lib${_jx_lib}${PROJECT_VERSION_MAJOR}")
if(JXRESTART_VARIANT)
  set(_jx_runtime "lib${_jx_lib}-${PROJECT_VERSION_MAJOR}")
endif()
set(_jx_debian "${PROJECT_BINARY_DIR}/debian")

# Each package carries its copyright and changelog, as policy asks.
function(jxrestart_package_docs component package)
  install(FILES cmake/debian/copyright DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${package}" COMPONENT ${component})
  install(FILES "${_jx_debian}/changelog.gz" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${package}"
          RENAME changelog.gz COMPONENT ${component})
endfunction()
file(MAKE_DIRECTORY "${_jx_debian}")
string(TIMESTAMP _jx_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${_jx_debian}/changelog"
  "jxrestart (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}; see README.md.\n\n"
  " -- JxRestart developers <maintainers@jxrestart.example.org>  ${_jx_date}\n")
execute_process(COMMAND gzip -9nf "${_jx_debian}/changelog")
set(_jx_packages runtime:${_jx_runtime} development:lib${_jx_lib}-dev tool:jxrestart host:libznlib)
foreach(_jx_entry IN LISTS _jx_packages)
  string(REPLACE ":" ";" _jx_pair "${_jx_entry}")
  jxrestart_package_docs(${_jx_pair})
endforeach()

# The symbols file lists every exported symbol with the version that
# brought it; tests/abi/check-exports.sh holds the library to it.
file(READ "${PROJECT_SOURCE_DIR}/cmake/debian/${JXRESTART_LIBRARY_NAME}.symbols" _jx_symbols)
file(WRITE "${_jx_debian}/symbols" "${_jx_symbols}")
file(WRITE "${_jx_debian}/triggers" "activate-noawait ldconfig\n")
install(FILES cmake/debian/libznlib.lintian-overrides DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides"
        RENAME libznlib COMPONENT host)

set(CPACK_PACKAGE_NAME jxrestart)
set(CPACK_PACKAGE_VENDOR "JxRestart developers")
set(CPACK_PACKAGE_CONTACT "JxRestart developers <maintainers@jxrestart.example.org>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_COMPONENTS_ALL runtime development)
if(JXRESTART_BUILD_TOOLS)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
if(NOT JXRESTART_HOST_DIR)
  list(APPEND CPACK_COMPONENTS_ALL host)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/jxrestart")
set(_jx_exact "(= ${PROJECT_VERSION})")
set(_jx_libc "libc6 (>= 2.34), libstdc++6 (>= 12)")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${_jx_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${_jx_libc}, libznlib | libznlib-host")
file(WRITE "${_jx_debian}/shlibs"
  "lib${JXRESTART_LIBRARY_NAME} ${PROJECT_VERSION_MAJOR} ${_jx_runtime} (>= ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${_jx_debian}/symbols;${_jx_debian}/shlibs;${_jx_debian}/triggers")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "The library a job process loads to keep, for each volume it copies, the
offset its copy has reached, so that an interrupted job restarts where
each volume had got to.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME lib${_jx_lib}-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${_jx_runtime} ${_jx_exact}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Headers, CMake package and pkg-config file for building job processes
against the library.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME jxrestart)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${_jx_libc}, ${_jx_runtime} ${_jx_exact}, libpcre2-8-0, zlib1g, libarchive13")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "The jxrestart tool shows, checks, compares and edits restart strings,
and reads them out of job logs.")

set(CPACK_DEBIAN_HOST_PACKAGE_NAME libznlib)
set(CPACK_DEBIAN_HOST_PACKAGE_PROVIDES libznlib-host)
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "${_jx_libc}")
set(CPACK_DEBIAN_HOST_PACKAGE_CONTROL_EXTRA "${_jx_debian}/triggers")
set(CPACK_DEBIAN_HOST_DESCRIPTION "Writes the restart library's diagnostics where ZN_DEBUG_LOG says; a
host's own libZnLib.so may take its place.")

include(CPack)
