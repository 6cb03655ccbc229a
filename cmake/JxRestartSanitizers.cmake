# JXRESTART_SANITIZE applies to every target of the build, so the library,
# the host log and the tests agree on the instrumented runtime.
if(JXRESTART_SANITIZE)
  add_compile_options(-fsanitize=${JXRESTART_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${JXRESTART_SANITIZE})
endif()
