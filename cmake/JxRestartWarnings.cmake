# Warnings are errors in our own code with both g++ and clang++.
add_library(jxrestart_warnings INTERFACE)
target_compile_options(jxrestart_warnings INTERFACE -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion)
option(JXRESTART_WERROR "Treat warnings as errors" ${PROJECT_IS_TOP_LEVEL})
if(JXRESTART_WERROR)
  target_compile_options(jxrestart_warnings INTERFACE -Werror)
endif()
