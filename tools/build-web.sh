#!/usr/bin/env bash
# Builds the WebAssembly programs with Debian's Emscripten into build-web/ (or the directory given):
# vorna.js (the Node console program), vorna-worker.js and vorna-engine.js (the engine as a browser's Web
# Worker and the module a page starts it with) and vorna-bench.js. Run as root on a fresh Debian machine:
# installs Emscripten and Node when they are missing.
#
#   tools/build-web.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-web}

# Emscripten and Node count when their commands are there, whoever installed them.
source tools/packages.sh
need=(cmake make)
command -v emcc >/dev/null 2>&1 || need+=(emscripten)
command -v node >/dev/null 2>&1 || need+=(nodejs)
need_packages build-web "${need[@]}"

# Debian's Emscripten finds the modules of its JavaScript optimiser through NODE_PATH.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
emcmake cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j"$(nproc)"
