# Cross build for Windows (x86_64) with Debian's MinGW-w64 compiler, linked statically so that the
# program needs no DLL beside it. Used by tools/build-windows.sh:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORNA_MINGW_PREFIX x86_64-w64-mingw32)
# The win32 thread variant needs no threading library; the engine has one thread.
find_program(VORNA_MINGW_CXX NAMES ${VORNA_MINGW_PREFIX}-g++-win32 ${VORNA_MINGW_PREFIX}-g++-posix
             ${VORNA_MINGW_PREFIX}-g++ REQUIRED)
set(CMAKE_CXX_COMPILER ${VORNA_MINGW_CXX})

set(CMAKE_FIND_ROOT_PATH /usr/${VORNA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
