# Cross-builds the 32-bit (x86) Windows program with MinGW-w64, for a
# workshop PC whose programming server is a 32-bit program.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ECUPROG_MINGW_TARGET i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
