# Cross-compiling for 32-bit x86 Windows with Debian's mingw-w64.
set(mingw_arch i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
