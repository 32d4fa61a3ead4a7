#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for the given number of seconds (default 60), starting from the seed corpus
# in fuzz/corpus/<target>. Prints the executions of each target; exits non-zero when a target crashes
# or a check fails, after printing the report and how to replay the input that did it.
#
#   tools/fuzz.sh [seconds per target] [target ...]      targets: setboard textmove uci xboard
#
# The inputs each run finds are kept in build-fuzz/corpus/<target> and feed the next run; a failing
# input is written to build-fuzz/artifacts/. Run as root on a fresh Debian machine: installs clang and
# its libFuzzer runtime when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(setboard textmove uci xboard)
case "$seconds" in
  '' | *[!0-9]*) echo "usage: tools/fuzz.sh [seconds per target] [target ...]" >&2; exit 2 ;;
esac

source tools/packages.sh
command -v clang++ >/dev/null 2>&1 || need_packages fuzz clang
need_packages fuzz cmake make
clang_major=$(clang++ -dumpversion | cut -d. -f1)
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer - -o /dev/null >/dev/null 2>&1; then
  need_packages fuzz "libclang-rt-$clang_major-dev"
fi

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORNA_FUZZ=ON -DVORNA_SANITIZE=ON -DVORNA_W32=OFF -DVORNA_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/vorna-fuzz-}" | { grep -vE '^\[ *[0-9]+%\]' || true; }

# Longest input per target: past every line buffer of the protocol loops (8192 UCI, 512 xboard).
declare -A max_len=([setboard]=256 [textmove]=16 [uci]=12000 [xboard]=4096)

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
mkdir -p "$build/artifacts"
failed=()
for t in "${targets[@]}"; do
  [ -n "${max_len[$t]:-}" ] || { echo "unknown target: $t" >&2; exit 2; }
  corpus="$build/corpus/$t"
  log="$build/fuzz-$t.log"
  mkdir -p "$corpus"
  args=(-max_total_time="$seconds" -print_final_stats=1 -timeout=60 -rss_limit_mb=4096
        -max_len="${max_len[$t]}" -dict="fuzz/$t.dict" -artifact_prefix="$build/artifacts/$t-")
  # The protocol loops write their replies to standard output: not into the report.
  case "$t" in uci | xboard) args+=(-close_fd_mask=1) ;; esac
  status=0
  "$build/fuzz/vorna-fuzz-$t" "${args[@]}" "$corpus" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -1; }
  runs=$(stat number_of_executed_units)
  if [ "$status" -eq 0 ]; then
    # The corpus (inputs kept, their total size), the edges covered of those instrumented (the program
    # holds code the target never reaches) and the coverage features, from libFuzzer's last status
    # line; the load average, since on a busy machine the rate falls with it.
    edges=$(sed -n 's/.*Loaded 1 modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -1)
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
    cov=$(echo "$done_line" | sed -n "s|.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([0-9]*\)/\([0-9A-Za-z]*\).*|corpus \3 inputs (\4), \1 of ${edges:-?} edges, \2 features|p")
    printf '%-9s %10s executions in %s s (%s/s), %s new inputs, %s; load %s\n' "$t" \
      "${runs:-?}" "$seconds" "$(stat average_exec_per_sec)" "$(stat new_units_added)" \
      "${cov:-corpus and coverage ?}" "$(cut -d' ' -f1-3 /proc/loadavg)"
  else
    failed+=("$t")
    echo "== $t FAILED (exit status $status) after ${runs:-?} executions; end of $log:"
    tail -n 60 "$log"
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    [ -z "$artifact" ] || echo "== replay with: $build/fuzz/vorna-fuzz-$t $artifact"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "fuzzing: no faults in ${targets[*]}"
