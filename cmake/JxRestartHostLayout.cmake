# The size and alignment of the EvEvent the library is built against
# (JXRESTART_EVEVENT_SIZE, JXRESTART_EVEVENT_ALIGNMENT), which the package
# states when a host library of the caller's choosing is used: a host
# library that carries no layout tag is not checked when the library loads.
include(CheckTypeSize)
set(_jx_probe "${PROJECT_BINARY_DIR}/JxRestartEvEventProbe.h")
file(WRITE "${_jx_probe}" "#include \"${JXRESTART_EVEVENT_HEADER}\"\n"
                          "struct JxRestartEvEventAlignment { char before; EvEvent event; };\n")
set(CMAKE_EXTRA_INCLUDE_FILES "${_jx_probe}")
check_type_size("EvEvent" JXRESTART_EVEVENT_SIZE LANGUAGE CXX)
check_type_size("JxRestartEvEventAlignment" _JX_EVEVENT_PADDED LANGUAGE CXX)
unset(CMAKE_EXTRA_INCLUDE_FILES)
if(NOT JXRESTART_EVEVENT_SIZE OR NOT _JX_EVEVENT_PADDED)
  message(FATAL_ERROR "cannot compile ${JXRESTART_EVEVENT_HEADER} to learn EvEvent's layout")
endif()
math(EXPR JXRESTART_EVEVENT_ALIGNMENT "${_JX_EVEVENT_PADDED} - ${JXRESTART_EVEVENT_SIZE}")
