# JXRESTART_SANITIZE applies to every target of the build, so the library,
# the host log and the tests agree on the instrumented runtime.
# Shared libraries must resolve every symbol at link time, except under
# clang's sanitizers, whose runtime only the program links.
set(JXRESTART_NO_UNDEFINED -Wl,--no-undefined)
if(JXRESTART_SANITIZE)
  add_compile_options(-fsanitize=${JXRESTART_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${JXRESTART_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(JXRESTART_NO_UNDEFINED "")
  endif()
endif()

# Fuzzing instruments the whole build for coverage; only the fuzz targets
# link libFuzzer's main.
if(JXRESTART_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "JXRESTART_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
