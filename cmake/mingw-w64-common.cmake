# What both Windows toolchains share (cmake/mingw-w64.cmake for x64,
# cmake/mingw-w64-i686.cmake for x86): the program cross-built with MinGW-w64
# (Debian: g++-mingw-w64-x86-64 or g++-mingw-w64-i686, mingw-w64-tools)
# against the real Windows headers. The including file sets
# ECUPROG_MINGW_TARGET and CMAKE_SYSTEM_PROCESSOR.
#
# The win32 thread model is used where the compiler comes in both flavours:
# the tool starts no threads, and the program then needs no pthread DLL.
# Everything the compiler brings (libgcc, libstdc++) is linked statically, so
# the .exe stands alone on a workshop PC.
set(CMAKE_SYSTEM_NAME Windows)

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
