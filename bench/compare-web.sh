#!/usr/bin/env bash
# The WebAssembly program under Node beside the native 64-bit program, in one run: the search bench of
# both, with and without the engine's look at its input every 1024 nodes, and the perft suite of both,
# run alternately round after round (the order swaps every round). Prints min and median CPU seconds,
# nodes per second, Node's speed as a share of the native program's, and what the look at the input
# costs each (its share of the search bench's time).
#
#   bench/compare-web.sh [-n ROUNDS] [-d DEPTH] [-s] [BUILD_DIR [WEB_DIR]]
#
#   -n ROUNDS   rounds of alternating runs (default 3)
#   -d DEPTH    depth of the search bench (default 8)
#   -s          skip the perft suites
#   BUILD_DIR   the native Release build (default build), WEB_DIR the WebAssembly build (default
#               build-web); both are configured or brought up to date first (tools/build-web.sh)
#
# Times are CPU seconds (user + system) of each program run, less those of the same bench to depth 0
# (start-up and the clearing of the 128 MB table before each position), so that the figure is the
# search's own. The look at the input needs an input that stays open and says nothing: the native bench
# reads a FIFO that this script holds open; the Node bench polls an input queue of its own that nothing
# writes. The node counts of all runs are compared: they must be identical.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/rounds.sh

rounds=3 depth=8 perft=1
while getopts "n:d:s" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    d) depth=$OPTARG ;;
    s) perft=0 ;;
    *) sed -n '2,20p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
native=${1:-build} web=${2:-build-web}

{
  [ -f "$native/CMakeCache.txt" ] || cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DVORNA_TESTS=OFF >/dev/null
  cmake --build "$native" -j"$(nproc)" --target vorna-bench >/dev/null
  bash tools/build-web.sh "$web" >/dev/null
} >&2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vorna-compare-web.XXXXXX")
mkfifo "$scratch/silent"
exec 9<>"$scratch/silent"  # a writer that never writes: the polled benches' input stays open and empty
trap 'exec 9>&-; rm -rf "$scratch"' EXIT
results=$scratch/results out=$scratch/out

# cpu_of INPUT COMMAND...: runs the command with its input from the file INPUT and its output to $out;
# prints CPU seconds (user + system).
cpu_of() {
  local input=$1 t
  shift
  t=$( { TIMEFORMAT='%3U %3S'; time "$@" <"$input" >"$out" 2>/dev/null; } 2>&1 )
  echo "$t" | awk '{ printf "%.3f", $1 + $2 }'
}

program() {  # side → the bench program's command
  if [ "$1" = native ]; then echo "$native/vorna-bench"; else echo "node $web/vorna-bench.js"; fi
}

# One measurement: kind side → appends "kind side seconds" and keeps the counts of the run.
measure() {
  local kind=$1 side=$2 secs zero
  # shellcheck disable=SC2046  # the command is meant to be split into words
  case $kind in
    search) secs=$(cpu_of /dev/null $(program "$side") search "$depth") ;;
    polled) secs=$(cpu_of "$scratch/silent" $(program "$side") search "$depth" polled) ;;
    perft) secs=$(cpu_of /dev/null $(program "$side") perft) ;;
  esac
  case $kind in
    perft) grep -o 'nodes = *[0-9]*' "$out" | tr -d ' ' >"$scratch/counts.$kind.$side" ;;
    *) grep -E '^(total nodes|signature)' "$out" | sed 's/, time.*//' >"$scratch/counts.$kind.$side"
       # shellcheck disable=SC2046
       zero=$(cpu_of /dev/null $(program "$side") search 0)
       secs=$(echo "$secs - $zero" | bc) ;;
  esac
  echo "$kind $side $secs" >>"$results"
}

kinds="search polled"
[ $perft -eq 1 ] && kinds="$kinds perft"
# shellcheck disable=SC2086  # the kinds are meant to be split into words
alternate_rounds "$rounds" native node $kinds
report_heading "$rounds"
echo "   native: $native/vorna-bench; Node $(node --version): $web/vorna-bench.js"
nodes=$(sed -n 's/^total nodes //p' "$scratch/counts.search.native")
printf '   %-38s %19s %19s %10s\n' "CPU seconds, min / median" native Node "Node speed"
awk -v depth="$depth" -v nodes="$nodes" "$MEDIAN_AWK"'
  { v[$1, $2, ++n[$1, $2]] = $3; kinds[$1] = 1 }
  function row(kind, label,    nmed, nmin, wmed, wmin) {
    nmed = median(kind, "native"); nmin = low
    wmed = median(kind, "node"); wmin = low
    printf "   %-38s %8.2f / %8.2f %8.2f / %8.2f %9.2fx\n", label, nmin, nmed, wmin, wmed, nmed / wmed
    if (kind != "perft")
      printf "   %-38s %8.2f / %8.2f %8.2f / %8.2f   (M nodes/s, max / median)\n", "", nodes / nmin / 1e6,
             nodes / nmed / 1e6, nodes / wmin / 1e6, nodes / wmed / 1e6
  }
  END {
    row("search", "search bench depth " depth)
    row("polled", "the same, input polled every 1024 nodes")
    if ("perft" in kinds) row("perft", "perft suite (perft mode)")
    printf "   cost of the look at the input (medians): native %+.1f%%, Node %+.1f%% of the search time\n",
           (median("polled", "native") / median("search", "native") - 1) * 100,
           (median("polled", "node") / median("search", "node") - 1) * 100
  }' "$results"

same=1
for kind in $kinds; do
  cmp -s "$scratch/counts.$kind.native" "$scratch/counts.$kind.node" || { same=0; echo "   DIFFERENT counts in $kind:"; diff "$scratch/counts.$kind.native" "$scratch/counts.$kind.node" | sed 's/^/     /'; }
done
cmp -s "$scratch/counts.search.node" "$scratch/counts.polled.node" || { same=0; echo "   the polled Node bench counted DIFFERENT nodes"; }
[ $same -eq 1 ] && echo "   node counts and signature identical in every run ($(paste -sd' ' "$scratch/counts.search.native"))"
[ $same -eq 1 ]
