# Cross-builds the Windows program with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64, mingw-w64-tools) against the real Windows headers.
#
# The win32 thread model is used where the compiler comes in both flavours:
# the tool starts no threads, and the program then needs no pthread DLL.
# Everything the compiler brings (libgcc, libstdc++) is linked statically, so
# the .exe stands alone on a workshop PC.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ECUPROG_MINGW_TARGET x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER
  NAMES ${ECUPROG_MINGW_TARGET}-gcc-win32 ${ECUPROG_MINGW_TARGET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER
  NAMES ${ECUPROG_MINGW_TARGET}-g++-win32 ${ECUPROG_MINGW_TARGET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ECUPROG_MINGW_TARGET}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ECUPROG_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
