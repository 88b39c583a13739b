# Warning flags applied to every target of the project via densepack_warnings.
add_library(densepack_warnings INTERFACE)
target_compile_options(densepack_warnings INTERFACE -Wall -Wextra)
if(DENSEPACK_WERROR)
  target_compile_options(densepack_warnings INTERFACE -Werror)
endif()

# Adds a static library for one subsystem folder, with the project root as include root.
function(densepack_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${DENSEPACK_ROOT})
  target_link_libraries(${name} PRIVATE densepack_warnings)
endfunction()
