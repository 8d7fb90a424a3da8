# Cross build for x86_64 Windows (Debian: g++-mingw-w64-x86-64): the one Wine runs here.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
