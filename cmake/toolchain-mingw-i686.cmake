# Cross build for i686 Windows (Debian: g++-mingw-w64-i686): the 32-bit console program.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
