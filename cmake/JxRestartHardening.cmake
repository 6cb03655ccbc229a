# The hardening that distributions apply to every binary, on by default;
# JXRESTART_HARDEN=OFF leaves it to a distribution's own flags.
option(JXRESTART_HARDEN "Build with the stack protector, fortified calls, full RELRO and PIE" ON)
if(NOT JXRESTART_HARDEN)
  return()
endif()

add_compile_options(-fstack-protector-strong)
# Fortification needs the optimiser; without it glibc warns, and warnings
# are errors here.
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
add_link_options(LINKER:-z,relro,-z,now)

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
