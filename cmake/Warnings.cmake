# Warning flags applied to every target of the project via densepack_warnings.
add_library(densepack_warnings INTERFACE)
target_compile_options(densepack_warnings INTERFACE -Wall -Wextra)
# GCC 12 at -O3 reports impossible overlaps inside std::string's own copy (a known false positive).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(densepack_warnings INTERFACE -Wno-restrict)
endif()
if(DENSEPACK_WERROR)
  target_compile_options(densepack_warnings INTERFACE -Werror)
endif()

# Adds a static library for one subsystem folder, with the project root as include root.
function(densepack_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${DENSEPACK_ROOT})
  target_link_libraries(${name} PRIVATE densepack_warnings)
endfunction()
