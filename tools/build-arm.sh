#!/usr/bin/env bash
# Cross-builds the ARM programs with Debian's cross compilers, each with its statically linked twin
# (VORNA_STATIC) and the developer tools (vorna-bench, vorna-perft):
#   build-arm64/Vorna_1_12_arm64, build-arm64/static/Vorna_1_12_arm64   (cmake/linux-aarch64.cmake)
#   build-arm32/Vorna_1_12_arm32, build-arm32/static/Vorna_1_12_arm32   (cmake/linux-armhf.cmake)
# Installs the compilers when they are missing (as root). Extra arguments go to both configures, e.g.
#   tools/build-arm.sh -DVORNA_REFERENCE_DIR=$PWD/build-test     (what tools/test-arm.sh gives them)
# Here the programs run under qemu-user: tools/launch build-arm64/Vorna_1_12_arm64.
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/packages.sh
need_packages build-arm g++-aarch64-linux-gnu g++-arm-linux-gnueabihf cmake make

jobs=$(nproc)
for target in arm64:aarch64 arm32:armhf; do
  dir=build-${target%%:*}
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="cmake/linux-${target#*:}.cmake" \
        -DVORNA_STATIC=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
done
ls -l build-arm64/Vorna_1_12_arm64 build-arm64/static/Vorna_1_12_arm64 \
      build-arm32/Vorna_1_12_arm32 build-arm32/static/Vorna_1_12_arm32
