#!/usr/bin/env bash
# Builds and runs every test: unit tests and end-to-end tests of both programs in Release, the
# WebAssembly programs (the end-to-end suites against the Node program, the Web Worker in headless
# Chromium), the page's logic under Node, the web page played in headless Chromium and Firefox, then
# the same suite on an AddressSanitizer + UndefinedBehaviorSanitizer build of the 64-bit program, the
# Windows programs under Wine, the end-to-end suites of the ARM programs under qemu-user, the packages,
# a short fuzz run and a short soak.
# Run as root on a fresh Debian machine: installs what the tests need when it is missing.
#
# Every stage runs even when an earlier one failed; the last line sums them up as
# "N passed, N failed, N skipped" (ctest tests, Windows and package tests, fuzz targets and the soak
# each count),
# and the exit status is non-zero when anything failed.
#
# On a kernel that does not run 32-bit programs the 32-bit Linux program is tested under qemu-user
# (tools/launch) and the 32-bit Windows program is not run; VORNA_EMULATE32=1 takes that path anywhere.
set -uo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
logs=$(mktemp -d /tmp/vorna-test.XXXXXX)
passed=0 failed=0 skipped=0
failures=()

count() {  # stage, passed, failed, skipped
  passed=$((passed + $2)) failed=$((failed + $3)) skipped=$((skipped + $4))
  [ "$3" -eq 0 ] || failures+=("$1 ($3)")
}

# A stage that is one test: passes when its command succeeds.
stage() {
  local name=$1
  shift
  if "$@"; then count "$name" 1 0 0; else count "$name" 0 1 0; fi
}

# ctest in a build directory: counts its tests from the summary line; a ctest that ends without one
# counts as one failure.
ctest_stage() {
  local name=$1 dir=$2
  shift 2
  local log="$logs/$name.log"
  (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log"
  local line total fails
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then count "$name" 0 1 0; return; fi
  fails=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  count "$name" $((total - fails)) "$fails" 0
}

# A stage that ends in a test runner's summary, Python's unittest ("Ran N tests", "OK (skipped=K)",
# "FAILED (failures=F, errors=E, skipped=K)") or Node's ("# pass N", "# fail N", "# cancelled N",
# "# skipped N"): counts its tests. A stage that ends before its summary counts as one failure, one that
# fails without a failing test as one more.
runner_stage() {
  local name=$1 status=0
  shift
  local log="$logs/$name.log"
  "$@" 2>&1 | tee "$log" || status=$?
  local ran pass fails skips
  ran=$(sed -nE 's/^Ran ([0-9]+) tests? in .*/\1/p' "$log" | tail -1)
  if [ -n "$ran" ]; then
    fails=$(grep -oE '(failures|errors)=[0-9]+' "$log" | awk -F= '{ s += $2 } END { print s + 0 }')
    skips=$(grep -oE 'skipped=[0-9]+' "$log" | tail -1 | cut -d= -f2)
    pass=$((ran - fails - ${skips:-0}))
  else
    pass=$(sed -nE 's/^# pass ([0-9]+)$/\1/p' "$log" | tail -1)
    if [ -z "$pass" ]; then count "$name" 0 1 0; return; fi
    fails=$(sed -nE 's/^# (fail|cancelled) ([0-9]+)$/\2/p' "$log" | awk '{ s += $1 } END { print s + 0 }')
    skips=$(sed -nE 's/^# skipped ([0-9]+)$/\1/p' "$log" | tail -1)
  fi
  if [ "$status" -ne 0 ] && [ "$fails" -eq 0 ]; then fails=1; fi
  count "$name" "$pass" "$fails" "${skips:-0}"
}

stage "test dependencies" bash tools/install-test-deps.sh

jobs=$(nproc)
echo "== Release build (64-bit and 32-bit programs, unit tests); 32-bit program: $(tools/launch --kernel | sed 's/yes/native/; s/no/under qemu-user/')"
if cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build build-test -j"$jobs"; then
  ctest_stage release build-test --timeout 900
else
  count "Release build" 0 1 0
fi

echo "== WebAssembly: the end-to-end suites against the Node program (vorna.js), the Web Worker in Chromium"
web_start=$(date +%s)
if bash tools/build-web.sh build-web-test; then
  for suite in entry uci xboard bad_input bench_signature; do
    runner_stage "web $suite" python3 tests/e2e/test_$suite.py --build-dir build-test --web-dir build-web-test
  done
  runner_stage "web browser" bash -c 'cd tests/browser && npm ci --no-audit --no-fund >/dev/null &&
                                          VORNA_WEB_DIR=build-web-test node --test worker.test.mjs'
else
  count "web build" 0 1 0
fi
echo "== WebAssembly stage: $(( $(date +%s) - web_start )) s"

echo "== Page logic: the game, the clocks and the UCI driver of the page under Node (fake engine, fake clock)"
runner_stage "page logic" bash -c 'cd web && npm ci --no-audit --no-fund --loglevel=error >/dev/null && node --test ../tests/page/'

echo "== Page: tools/build-page.sh on that build, then the page in headless Chromium and Firefox (log, screenshots: build-test/browser/)"
page_start=$(date +%s)
mkdir -p build-test/browser
if bash tools/build-page.sh build-web-test build-page-test; then
  runner_stage page bash -c 'set -o pipefail; cd tests/browser && npm ci --no-audit --no-fund >/dev/null &&
    VORNA_PAGE_DIR=build-page-test node --test page.test.mjs 2>&1 | tee ../../build-test/browser/page.log'
else
  count "page build" 0 1 0
fi
echo "== Page stage: $(( $(date +%s) - page_start )) s"

echo "== Sanitizer build (ASan + UBSan)"
if cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNA_SANITIZE=ON >/dev/null &&
   cmake --build build-asan -j"$jobs"; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest_stage sanitizer build-asan --timeout 1800 -E 'gui'
else
  count "sanitizer build" 0 1 0
fi

echo "== Windows programs, cross-built with MinGW-w64, under Wine"
runner_stage windows bash tools/test-windows.sh build-test

echo "== ARM programs, cross-built, under qemu-user: the end-to-end suites, compared with the 64-bit program"
arm_start=$(date +%s)
if bash tools/build-arm.sh -DVORNA_TESTS=ON -DVORNA_REFERENCE_DIR="$PWD/build-test"; then
  ctest_stage arm32 build-arm32 --timeout 900 -j"$jobs"
  ctest_stage arm64 build-arm64 --timeout 900 -j"$jobs"
else
  count "ARM build" 0 1 0
fi
echo "== ARM stage: $(( $(date +%s) - arm_start )) s"

echo "== Packages: tools/package.sh; the four .debs under lintian and unpacked into a scratch root, the Linux tarball, the Windows zip"
runner_stage packages python3 tests/package/test_package.py

echo "== Fuzzing: each libFuzzer target for a short while (tools/fuzz.sh 1800 for a long run)"
fuzz_log="$logs/fuzz.log"
bash tools/fuzz.sh 20 2>&1 | tee "$fuzz_log"
fuzz_ok=$(grep -cE '^[a-z]+ +[0-9]+ executions' "$fuzz_log")
fuzz_bad=$(sed -n 's/^fuzzing found faults in: //p' "$fuzz_log" | wc -w)
if [ "$fuzz_ok" -eq 0 ] && [ "$fuzz_bad" -eq 0 ]; then fuzz_bad=1; fi
count fuzzing "$fuzz_ok" "$fuzz_bad" 0

echo "== Soak: self-play games on the sanitizer build (tools/soak.py --games 1000 for a long run)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 stage soak python3 tools/soak.py --games 4

rm -rf "$logs"
echo "== $(( $(date +%s) - start )) s; failed: ${failures[*]:-nothing}"
summary="$passed passed, $failed failed"
[ "$skipped" -eq 0 ] || summary="$summary, $skipped skipped"
echo "$summary"
[ "$failed" -eq 0 ]
