# The hardening that distributions apply to every binary, on by default;
# JXRESTART_HARDEN=OFF leaves it to a distribution's own flags.
option(JXRESTART_HARDEN "Build with the stack protector, fortified calls, full RELRO and PIE" ON)
if(NOT JXRESTART_HARDEN)
  return()
endif()

add_compile_options(-fstack-protector-strong)
# Fortification needs the optimiser; without it glibc warns, and warnings
# are errors here. A level the builder gives (a distribution's =3 in
# CXXFLAGS) or the compiler sets by itself is kept, never lowered.
include(CheckCXXSourceCompiles)
string(TOUPPER "${CMAKE_BUILD_TYPE}" _jx_build_type)
set(CMAKE_REQUIRED_FLAGS "-O2")
check_cxx_source_compiles("#ifndef _FORTIFY_SOURCE\n#error\n#endif\nint main() {}" JXRESTART_COMPILER_FORTIFIES)
unset(CMAKE_REQUIRED_FLAGS)
if(NOT JXRESTART_COMPILER_FORTIFIES AND NOT "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${_jx_build_type}}" MATCHES "_FORTIFY_SOURCE")
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>")
endif()
add_link_options(LINKER:-z,relro,-z,now)

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
