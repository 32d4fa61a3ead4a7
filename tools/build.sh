#!/usr/bin/env bash
# Builds both programs (64-bit and 32-bit) in Release and runs the engine's self-test, the perft mode.
# Run as root on a fresh Debian machine: installs the compilers it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

# The 32-bit program is built by the same g++ with its 32-bit libraries: g++-<version>-multilib, which
# unlike g++-multilib can be installed beside Debian's ARM cross compilers.
multilib=g++-$( (g++ -dumpversion 2>/dev/null || echo 12) | cut -d. -f1)-multilib
need=()
for pkg in g++ "$multilib" cmake make; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVORNA_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
echo perft | ./build/Vorna_1_12_x64
