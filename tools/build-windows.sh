#!/usr/bin/env bash
# Cross-builds the Windows programs with Debian's MinGW-w64 compilers, statically linked:
#   build-win64/Vorna_1_12_x64.exe  (cmake/mingw-x86_64.cmake)
#   build-win32/Vorna_1_12_w32.exe  (cmake/mingw-i686.cmake)
# beside each the test helper vorna-pipe-relay.exe. Installs the compilers when they are missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/packages.sh
need_packages build-windows g++-mingw-w64-x86-64 g++-mingw-w64-i686 cmake make

jobs=$(nproc)
for target in win64:x86_64 win32:i686; do
  dir=build-${target%%:*}
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-${target#*:}.cmake" \
        -DVORNA_TESTS=OFF >/dev/null
  cmake --build "$dir" -j"$jobs"
done
ls -l build-win64/Vorna_1_12_x64.exe build-win32/Vorna_1_12_w32.exe
