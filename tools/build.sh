#!/usr/bin/env bash
# Builds both programs (64-bit and 32-bit) in Release and runs the engine's self-test, the perft mode.
# Run as root on a fresh Debian machine: installs the compilers it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

# The 32-bit program is built by the same g++ with its 32-bit libraries.
source tools/packages.sh
need_packages build g++ cmake make
need_packages build "$(multilib_package)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVORNA_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
echo perft | ./build/Vorna_1_12_x64
