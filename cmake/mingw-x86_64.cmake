# Cross-compiling for x86-64 Windows with Debian's mingw-w64.
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
