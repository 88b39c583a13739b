# DENSEPACK_SANITIZE is passed straight to -fsanitize= for the whole build.
if(DENSEPACK_SANITIZE)
  message(STATUS "Sanitizers: ${DENSEPACK_SANITIZE}")
  add_compile_options(-fsanitize=${DENSEPACK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${DENSEPACK_SANITIZE})
endif()
# Fuzzing instruments every library for coverage; only the fuzz executables link the fuzzer's main.
if(DENSEPACK_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
