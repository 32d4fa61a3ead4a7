#!/usr/bin/env bash
# Builds and runs every test: unit tests and end-to-end tests of both programs in Release, then the
# same suite on an AddressSanitizer + UndefinedBehaviorSanitizer build of the 64-bit program.
# Run as root on a fresh Debian machine: installs what the tests need when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

bash tools/install-test-deps.sh

jobs=$(nproc)
echo "== Release build (64-bit and 32-bit programs, unit tests)"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-test -j"$jobs"
(cd build-test && ctest --output-on-failure --timeout 900)

echo "== Sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNA_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure --timeout 1800 -E 'gui')

bash tools/test-windows.sh build-test  # the Windows programs, cross-built with MinGW-w64, under Wine

echo "== Fuzzing: each libFuzzer target for a short while (tools/fuzz.sh 600 for a longer run)"
bash tools/fuzz.sh 20

echo "== Soak: self-play games on the sanitizer build (tools/soak.py --games 100 for a longer run)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 python3 tools/soak.py --games 4

echo "== all tests passed in $(( $(date +%s) - start )) s"
