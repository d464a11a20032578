# Flags shared by every target of the project.
#
# Kernel outputs are bit-exact contracts: single-precision operations in the
# order written. Contracting a*b+c into an FMA, or any fast-math licence,
# would change output bits, so both are ruled out for the whole tree.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math)
if(KESTRELUMEN_WERROR)
  add_compile_options(-Werror)
endif()

# x86-64 baseline only (SSE2): the library must run on any x64 machine.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64")
  add_compile_options(-msse2 -mfpmath=sse)
endif()

if(KESTRELUMEN_SANITIZE)
  add_compile_options(-fsanitize=${KESTRELUMEN_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${KESTRELUMEN_SANITIZE})
  if(KESTRELUMEN_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
