#!/usr/bin/env bash
# Builds and runs every test: unit tests and end-to-end tests of both programs in Release, the
# WebAssembly programs (the end-to-end suites against the Node program on both input paths, the Web
# Worker in headless Chromium and Firefox), the page's logic under Node and the page played in both
# browsers, the npm package installed and used, then the same suite
# on an AddressSanitizer + UndefinedBehaviorSanitizer build of the 64-bit program, the Windows programs
# under Wine, the end-to-end suites of the ARM programs under qemu-user, the packages, a short fuzz run
# and a short soak.
# Run as root on a fresh Debian machine: installs what the tests need when it is missing.
#
#   tools/test.sh              every stage (what CI runs)
#   tools/test.sh --quick      the native build with the unit and end-to-end tests of the two native
#                              programs only: no WebAssembly, browsers, sanitizers, Wine, ARM, packages,
#                              fuzzing or soak (a few minutes on a warm machine)
#   tools/test.sh STAGE...     the named stages, in the order given: release web page npm sanitizer
#                              windows arm packages fuzz soak (a stage builds what it needs; "soak"
#                              needs the sanitizer build of "sanitizer")
#
# Every stage runs even when an earlier one failed; each stage's time is printed at its end and again in
# the summary, and the last line sums them up as "N passed, N failed, N skipped" (ctest tests, Windows
# and package tests, fuzz targets and the soak each count); the exit status is non-zero when anything
# failed.
#
# On a kernel that does not run 32-bit programs the 32-bit Linux program is tested under qemu-user
# (tools/launch) and the 32-bit Windows program is not run; VORNA_EMULATE32=1 takes that path anywhere.
set -uo pipefail
cd "$(dirname "$0")/.."
all_stages=(release web page npm sanitizer windows arm packages fuzz soak)
case "${1:-}" in
  "") stages=("${all_stages[@]}") ;;
  --quick) stages=(release) ;;
  -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d'; exit 0 ;;
  *) stages=("$@") ;;
esac
for s in "${stages[@]}"; do
  [[ " ${all_stages[*]} " == *" $s "* ]] || { echo "test.sh: no stage named $s (stages: ${all_stages[*]})" >&2; exit 2; }
done
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

jobs=$(nproc)

# The Release build of both native programs and their tests, made once for every stage that needs it.
native_built=""
native_build() {
  if [ -z "$native_built" ]; then
    native_built=no
    cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build build-test -j"$jobs" && native_built=yes
  fi
  [ "$native_built" = yes ]
}

stage_release() {
  echo "== Release build (64-bit and 32-bit programs, unit tests); 32-bit program: $(tools/launch --kernel | sed 's/yes/native/; s/no/under qemu-user/')"
  if native_build; then
    ctest_stage release build-test --timeout 900 -j"$jobs"
  else
    count "Release build" 0 1 0
  fi
}

stage_web() {
  echo "== WebAssembly: the end-to-end suites against the Node program (vorna.js) on both input paths, the Web Worker in Chromium and Firefox"
  if native_build && bash tools/build-web.sh build-web-test; then
    for suite in entry uci xboard bad_input bench_signature; do
      runner_stage "web $suite" python3 tests/e2e/test_$suite.py --build-dir build-test --web-dir build-web-test
    done
    # The same suites with the input as messages, the way it goes on a page without cross-origin isolation.
    for suite in entry uci xboard bad_input; do
      VORNA_WASM_INPUT=messages runner_stage "web $suite (input as messages)" \
        python3 tests/e2e/test_$suite.py --build-dir build-test --web-dir build-web-test
    done
    runner_stage "web browser" bash -c 'cd tests/browser && npm ci --no-audit --no-fund >/dev/null &&
                                            VORNA_WEB_DIR=build-web-test node --test worker.test.mjs'
  else
    count "web build" 0 1 0
  fi
}

stage_page() {
  echo "== Page: its logic under Node; tools/build-page.sh, then the page in headless Chromium and Firefox in each place (log, screenshots: build-test/browser/)"
  runner_stage "page logic" bash -c 'cd web && npm ci --no-audit --no-fund --loglevel=error >/dev/null && node --test ../tests/page/'
  mkdir -p build-test/browser
  if native_build && bash tools/build-page.sh build-web-test build-page-test; then
    runner_stage page bash -c 'set -o pipefail; cd tests/browser && npm ci --no-audit --no-fund >/dev/null &&
      VORNA_PAGE_DIR=build-page-test node --test page.test.mjs 2>&1 | tee ../../build-test/browser/page.log'
  else
    count "page build" 0 1 0
  fi
}

stage_npm() {
  echo "== npm package: packed from the WebAssembly build (tools/build-npm.sh), installed offline into a scratch project, used from Node, npx, an esbuild bundle in Chromium and Firefox, and TypeScript"
  if bash tools/build-web.sh build-web-test >/dev/null; then
    runner_stage npm bash -c 'cd tests/browser && npm ci --no-audit --no-fund >/dev/null && cd ../npm &&
                              npm ci --no-audit --no-fund >/dev/null && VORNA_WEB_DIR=build-web-test node --test package.test.mjs'
  else
    count "npm build" 0 1 0
  fi
}

stage_sanitizer() {
  echo "== Sanitizer build (ASan + UBSan)"
  if cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNA_SANITIZE=ON >/dev/null &&
     cmake --build build-asan -j"$jobs"; then
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest_stage sanitizer build-asan --timeout 1800 -E 'gui'
  else
    count "sanitizer build" 0 1 0
  fi
}

stage_windows() {
  echo "== Windows programs, cross-built with MinGW-w64, under Wine"
  if native_build; then
    runner_stage windows bash tools/test-windows.sh build-test
  else
    count "windows" 0 1 0
  fi
}

stage_arm() {
  echo "== ARM programs, cross-built, under qemu-user: the end-to-end suites, compared with the 64-bit program"
  if native_build && bash tools/build-arm.sh -DVORNA_TESTS=ON -DVORNA_REFERENCE_DIR="$PWD/build-test"; then
    ctest_stage arm32 build-arm32 --timeout 900 -j"$jobs"
    ctest_stage arm64 build-arm64 --timeout 900 -j"$jobs"
  else
    count "ARM build" 0 1 0
  fi
}

stage_packages() {
  echo "== Packages: tools/package.sh; the four .debs under lintian and unpacked into a scratch root, the Linux tarball, the Windows and web zips"
  runner_stage packages python3 tests/package/test_package.py
}

stage_fuzz() {
  echo "== Fuzzing: each libFuzzer target for a short while (tools/fuzz.sh 1800 for a long run)"
  local fuzz_log="$logs/fuzz.log" fuzz_ok fuzz_bad
  bash tools/fuzz.sh 20 2>&1 | tee "$fuzz_log"
  fuzz_ok=$(grep -cE '^[a-z]+ +[0-9]+ executions' "$fuzz_log")
  fuzz_bad=$(sed -n 's/^fuzzing found faults in: //p' "$fuzz_log" | wc -w)
  if [ "$fuzz_ok" -eq 0 ] && [ "$fuzz_bad" -eq 0 ]; then fuzz_bad=1; fi
  count fuzzing "$fuzz_ok" "$fuzz_bad" 0
}

stage_soak() {
  echo "== Soak: self-play games on the sanitizer build (tools/soak.py --games 1000 for a long run)"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 stage soak python3 tools/soak.py --games 4
}

if [ "${stages[*]}" = release ]; then
  stage "test dependencies" bash tools/install-test-deps.sh native
else
  stage "test dependencies" bash tools/install-test-deps.sh
fi
times=()
for s in "${stages[@]}"; do
  stage_start=$(date +%s)
  "stage_$s"
  seconds=$(( $(date +%s) - stage_start ))
  echo "== $s stage: $seconds s"
  times+=("$s $seconds s")
done

rm -rf "$logs"
echo "== stage times: $(IFS=,; echo "${times[*]}" | sed 's/,/, /g')"
echo "== $(( $(date +%s) - start )) s; failed: ${failures[*]:-nothing}"
summary="$passed passed, $failed failed"
[ "$skipped" -eq 0 ] || summary="$summary, $skipped skipped"
echo "$summary"
[ "$failed" -eq 0 ]
