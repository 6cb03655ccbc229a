# Which host debug-log library the restart library is built against: the
# replacement in host/, or the host's own EvEvent.h and libZnLib.so found in
# JXRESTART_HOST_DIR. The classes hold EvEvent by value, so its layout must
# come from the header of the library that is deployed.
set(JXRESTART_HOST_DIR "" CACHE PATH
    "Folder with the host's own EvEvent.h and libZnLib.so, used instead of the replacement in host/")

if(NOT JXRESTART_HOST_DIR)
  add_subdirectory(host)
  set(JXRESTART_EVEVENT_HEADER "${PROJECT_SOURCE_DIR}/host/EvEvent.h")
  return()
endif()

find_path(JXRESTART_HOST_INCLUDE EvEvent.h
  PATHS "${JXRESTART_HOST_DIR}" "${JXRESTART_HOST_DIR}/include/host" "${JXRESTART_HOST_DIR}/include"
        "${JXRESTART_HOST_DIR}/host"
  NO_DEFAULT_PATH NO_CACHE)
find_library(JXRESTART_HOST_LIBRARY NAMES ZnLib
  PATHS "${JXRESTART_HOST_DIR}" "${JXRESTART_HOST_DIR}/lib" "${JXRESTART_HOST_DIR}/Base64"
  NO_DEFAULT_PATH NO_CACHE)
if(NOT JXRESTART_HOST_INCLUDE OR NOT JXRESTART_HOST_LIBRARY)
  message(FATAL_ERROR "JXRESTART_HOST_DIR=${JXRESTART_HOST_DIR} must hold EvEvent.h and libZnLib.so "
                      "(directly, or in include/, include/host/, lib/ or Base64/)")
endif()
set(JXRESTART_EVEVENT_HEADER "${JXRESTART_HOST_INCLUDE}/EvEvent.h")
message(STATUS "Host log: ${JXRESTART_EVEVENT_HEADER} and ${JXRESTART_HOST_LIBRARY}")

add_library(ZnLib SHARED IMPORTED GLOBAL)
add_library(JxRestart::ZnLib ALIAS ZnLib)
set_target_properties(ZnLib PROPERTIES
  IMPORTED_LOCATION "${JXRESTART_HOST_LIBRARY}"
  INTERFACE_COMPILE_DEFINITIONS "JXRESTART_HOST_EVEVENT_H=\"${JXRESTART_EVEVENT_HEADER}\"")

# The tests capture log lines through the replacement's sink, which a host
# library does not have.
if(JXRESTART_BUILD_TESTS)
  message(STATUS "Tests are off: they need the replacement host log")
  set(JXRESTART_BUILD_TESTS OFF)
endif()
