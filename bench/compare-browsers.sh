#!/usr/bin/env bash
# The engine where its users run it, beside the native program, in one run: in Chromium and in Firefox
# (each on a cross-origin isolated page, whose engine reads its input from shared memory, and on a plain
# page, whose engine gets its input as messages), under Node (both inputs) and natively, all over UCI,
# round after round with the order of the sides reversed every other round (bench/rounds.sh). Two
# workloads (bench/compare-browsers.mjs runs one side on one):
#
#   game    one engine left idle 1.5 s after its start (VORNA_IDLE_MS), as a page leaves it while the
#           person looks at the board, a warm-up search not timed, then twelve positions of one game
#           searched to depth 8 one after another with the tables kept, as when a page plays a game
#   search  bench/bench.cpp's 20 positions to depth 8, each in a fresh engine (fresh tables)
#
# Prints min and median wall milliseconds of the timed searches (from "go" to "bestmove"), each side's
# speed as a share of the native program's (medians), and checks that every run of every side counted
# the same nodes and chose the same moves as the native program; the search workload's counts must also
# be those of `vorna-bench search 8` (its signature printed).
#
#   bench/compare-browsers.sh [-n ROUNDS] [-k "KINDS"] [-s "SIDES"] [BUILD_DIR [WEB_DIR]]
#
#   -n ROUNDS   rounds (default 5)
#   -k KINDS    workloads (default "game search")
#   -s SIDES    sides (default all: native node-shm node-msg chromium-isolated chromium-plain
#               firefox-isolated firefox-plain); native is always among them. SIDE@DIR runs that side
#               on the WebAssembly build in DIR, to compare builds in one run
#   BUILD_DIR   the native Release build (default build), WEB_DIR the WebAssembly build (default
#               build-web); both are brought up to date first
#
# VORNA_NODE_FLAGS, VORNA_CHROMIUM_FLAGS and VORNA_FIREFOX_PREFS pass options to Node, Chromium and
# Firefox (bench/compare-browsers.mjs), e.g. VORNA_CHROMIUM_FLAGS=--js-flags=--no-liftoff.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/rounds.sh

rounds=5 kinds="game search"
sides="native node-shm node-msg chromium-isolated chromium-plain firefox-isolated firefox-plain"
while getopts "n:k:s:" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    k) kinds=$OPTARG ;;
    s) sides=$OPTARG ;;
    *) sed -n '2,28p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
native=${1:-build} web=${2:-build-web}
[[ " $sides " == *" native "* ]] || sides="native $sides"

{
  [ -f "$native/CMakeCache.txt" ] || cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DVORNA_TESTS=OFF >/dev/null
  cmake --build "$native" -j"$(nproc)" --target Vorna_1_12_x64 vorna-bench >/dev/null
  bash tools/build-web.sh "$web" >/dev/null
  [ -d tests/browser/node_modules ] || (cd tests/browser && npm ci --no-audit --no-fund >/dev/null)
} >&2
export VORNA_NATIVE=$native/Vorna_1_12_x64 VORNA_WEB_DIR=$web

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vorna-compare-browsers.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
results=$scratch/results

# One measurement: kind side → appends "kind side ms" to the results, and the side's counts and moves
# ("nodes move" a search) to counts.kind.side, a run after another.
measure() {
  local kind=$1 side=$2 out=$scratch/out
  node bench/compare-browsers.mjs "$side" "$kind" >"$out"
  echo "$kind $side $(sed -n 's/^ms //p' "$out")" >>"$results"
  sed -n 's/^search [^ ]* //p' "$out" | paste -sd' ' >>"$(counts "$kind" "$side")"
}
counts() { echo "$scratch/counts.$1.${2//\//_}"; }

# shellcheck disable=SC2086  # the kinds are meant to be split into words
alternate_rounds "$rounds" "$sides" $kinds
report_heading "$rounds"
echo "   native: $VORNA_NATIVE; Node $(node --version): $web/vorna.js; $(/usr/bin/chromium --version 2>/dev/null | head -1);" \
     "$(/usr/bin/firefox-esr --version 2>/dev/null | head -1)"
echo "   game: each engine idle ${VORNA_IDLE_MS:-1500} ms after its start; depth ${VORNA_DEPTH:-8}"
if [ -n "${VORNA_NODE_FLAGS:-}${VORNA_CHROMIUM_FLAGS:-}${VORNA_FIREFOX_PREFS:-}" ]; then
  echo "   options: node ${VORNA_NODE_FLAGS:-(none)}; Chromium ${VORNA_CHROMIUM_FLAGS:-(none)}; Firefox ${VORNA_FIREFOX_PREFS:-(none)}"
fi
printf '   %-32s %-8s %21s %11s\n' side workload "ms, min / median" "vs native"
awk -v sides="$sides" -v kinds="$kinds" "$MEDIAN_AWK"'
  { v[$1, $2, ++n[$1, $2]] = $3 }
  END {
    ns = split(sides, s, " "); nk = split(kinds, k, " ")
    for (i = 1; i <= nk; ++i) {
      base = median(k[i], "native")
      for (j = 1; j <= ns; ++j) {
        med = median(k[i], s[j])
        printf "   %-32s %-8s %9.0f / %9.0f %10.2fx\n", s[j], k[i], low, med, base / med
      }
    }
  }' "$results"

# Every run of every side: the same counts and moves as the native program's first run.
same=1
for kind in $kinds; do
  reference=$(head -1 "$(counts "$kind" native)")
  for side in $sides; do
    if [ "$(sort -u "$(counts "$kind" "$side")")" != "$reference" ]; then
      same=0
      echo "   DIFFERENT node counts or moves: $kind on $side"
      sort -u "$(counts "$kind" "$side")" | sed 's/^/     /'
      echo "     native: $reference"
    fi
  done
done
if [[ " $kinds " == *" search "* ]]; then
  # The fresh engines' counts are the bench's: vorna-bench clears the tables before each position.
  "$native/vorna-bench" search 8 >"$scratch/bench"
  bench_nodes=$(sed -n 's/.* \([0-9]*\) nodes .*/\1/p' "$scratch/bench" | paste -sd' ')
  uci_nodes=$(head -1 "$scratch/counts.search.native" | awk '{ for (i = 1; i <= NF; i += 2) printf "%s%s", (i > 1 ? " " : ""), $i }')
  if [ "$bench_nodes" != "$uci_nodes" ]; then
    same=0
    echo "   the fresh engines' counts DIFFER from vorna-bench search 8: $bench_nodes"
  fi
  echo "   vorna-bench search 8: $(sed -n 's/^\(total nodes [0-9]*\).*/\1/p' "$scratch/bench"), $(grep '^signature' "$scratch/bench")"
fi
for kind in $kinds; do
  total=$(head -1 "$scratch/counts.$kind.native" | awk '{ for (i = 1; i <= NF; i += 2) t += $i; print t }')
  echo "   $kind: $total nodes in all, per search: $(head -1 "$scratch/counts.$kind.native" | awk '{ for (i = 1; i <= NF; i += 2) printf "%s ", $i }')"
done
[ $same -eq 1 ] && echo "   node counts and moves identical in every run of every side"
[ $same -eq 1 ]
