#!/usr/bin/env bash
# Tests the ARM programs under qemu-user: cross-builds them (tools/build-arm.sh) and runs the end-to-end
# suites against each (ctest in build-arm32 and build-arm64): the perft mode's counts, the search bench's
# node counts and signature, UCI and xboard sessions, bad input, polyglot games against Fairy-Max, and
# thinking line by line as this machine's 64-bit program thinks. Only latency budgets are scaled for
# emulation. Installs what it needs when it is missing (as root).
#
#   tools/test-arm.sh [REFERENCE_BUILD_DIR]
#
# The reference programs (this machine's Vorna_1_12_x64 and vorna-perft) come from REFERENCE_BUILD_DIR
# when given (its targets are brought up to date there), else from a build of their own in build-arm-ref/.
# tools/test.sh runs the same suites as its ARM stage.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-test-deps.sh
if [ $# -ge 1 ]; then
  ref=$1
else
  ref=build-arm-ref
  cmake -S . -B "$ref" -DCMAKE_BUILD_TYPE=Release -DVORNA_W32=OFF -DVORNA_TESTS=OFF >/dev/null
fi
cmake --build "$ref" -j"$(nproc)" --target Vorna_1_12_x64 vorna-perft
bash tools/build-arm.sh -DVORNA_TESTS=ON -DVORNA_REFERENCE_DIR="$(cd "$ref" && pwd)"

status=0
for dir in build-arm32 build-arm64; do
  (cd "$dir" && ctest -j"$(nproc)" --output-on-failure --timeout 900) || status=1
done
exit $status
