# Install components, each a package a distribution can ship apart:
#   runtime      libJxRestart.so.N alone
#   development  headers (with the EvEvent.h built against), the CMake
#                package, the pkg-config file, the libJxRestart.so link, and
#                the static archive where it is built
#   tool         the jxrestart tool, its man page and bash completion, the
#                format docs
#   host         the replacement libZnLib.so and its headers; left out
#                where the host's own library is deployed
# The old-string-ABI build installs under names of its own (JXRESTART_VARIANT),
# headers included, so that both builds can be installed side by side.
include(CMakePackageConfigHelpers)

set(JXRESTART_PACKAGE_NAME "JxRestart${JXRESTART_VARIANT}")
set(JXRESTART_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/${JXRESTART_PACKAGE_NAME}")
if(JXRESTART_VARIANT AND NOT JXRESTART_INCLUDE_SUBDIR)
  set(JXRESTART_INCLUDE_SUBDIR "${JXRESTART_PC_NAME}")
endif()
# Consumers write #include "restart/JxRestartability.h" either way: the
# packages put the subfolder on their include path.
set(JXRESTART_HEADER_DIR "${CMAKE_INSTALL_INCLUDEDIR}")
if(JXRESTART_INCLUDE_SUBDIR)
  string(APPEND JXRESTART_HEADER_DIR "/${JXRESTART_INCLUDE_SUBDIR}")
endif()

install(TARGETS JxRestart EXPORT JxRestartTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT runtime NAMELINK_COMPONENT development
  FILE_SET HEADERS DESTINATION "${JXRESTART_HEADER_DIR}" COMPONENT development)
if(JXRESTART_STATIC)
  install(TARGETS JxRestartStatic EXPORT JxRestartTargets
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development)
endif()
install(FILES "${JXRESTART_EVEVENT_HEADER}" DESTINATION "${JXRESTART_HEADER_DIR}/host" COMPONENT development)
install(FILES doc/formats.md DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT tool)

if(NOT JXRESTART_HOST_DIR)
  install(TARGETS ZnLib LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT host
    FILE_SET HEADERS DESTINATION "${JXRESTART_HEADER_DIR}" COMPONENT host)
endif()

install(EXPORT JxRestartTargets NAMESPACE JxRestart:: DESTINATION "${JXRESTART_CMAKE_DIR}" COMPONENT development)
include(JxRestartHostLayout)
configure_package_config_file(cmake/JxRestartConfig.cmake.in "${PROJECT_BINARY_DIR}/${JXRESTART_PACKAGE_NAME}Config.cmake"
  INSTALL_DESTINATION "${JXRESTART_CMAKE_DIR}")
# Within a major version only additions are made (see README.md).
write_basic_package_version_file("${PROJECT_BINARY_DIR}/${JXRESTART_PACKAGE_NAME}ConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/${JXRESTART_PACKAGE_NAME}Config.cmake"
              "${PROJECT_BINARY_DIR}/${JXRESTART_PACKAGE_NAME}ConfigVersion.cmake"
  DESTINATION "${JXRESTART_CMAKE_DIR}" COMPONENT development)

# The .pc file finds the prefix from its own folder, whatever the library
# folder (lib, lib64, lib/x86_64-linux-gnu), so that a staged or moved
# install still works; where a folder lies outside the prefix, the paths
# are absolute.
set(JXRESTART_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(JXRESTART_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
set(JXRESTART_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
if(JXRESTART_INCLUDE_SUBDIR)
  string(APPEND JXRESTART_PC_INCLUDEDIR "/${JXRESTART_INCLUDE_SUBDIR}")
endif()
if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  file(RELATIVE_PATH _jx_up "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
  string(REGEX REPLACE "/$" "" _jx_up "${_jx_up}")
  set(JXRESTART_PC_PREFIX "\${pcfiledir}/${_jx_up}")
  set(JXRESTART_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(JXRESTART_PC_INCLUDEDIR "\${prefix}/${JXRESTART_HEADER_DIR}")
endif()
set(JXRESTART_PC_CFLAGS "")
if(NOT JXRESTART_CXX11_ABI)
  set(JXRESTART_PC_CFLAGS " -D_GLIBCXX_USE_CXX11_ABI=0")
endif()
configure_file(cmake/jxrestart.pc.in "${PROJECT_BINARY_DIR}/${JXRESTART_PC_NAME}.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/${JXRESTART_PC_NAME}.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig"
  COMPONENT development)
