#!/usr/bin/env bash
# Compares the programs of two commits in one run: builds each commit's Release programs in a scratch
# directory (the commit's own sources and CMake build, taken with git archive), then runs the perft suite
# of the 64-bit and the 32-bit program and the search bench alternately, round after round (the order
# of the two sides swaps every round), and prints min and median per side and the speed-up.
#
#   bench/compare-commits.sh [-n ROUNDS] [-d DEPTH] [-s] [-c] BASE HEAD
#
#   BASE, HEAD  commits (anything git rev-parse takes); the word "worktree" stands for the files of the
#               working tree as they are now, committed or not
#   -n ROUNDS   rounds of alternating runs (default 3)
#   -d DEPTH    depth of the search bench (default 8)
#   -s          skip the 32-bit program
#   -c          also count instructions with callgrind (deterministic, unlike the times) on a smaller
#               load: the perft of one position to depth 4 and the search bench to depth 6 (less the
#               clearing of the tables, counted on a run to depth 0)
#
# Times are CPU seconds (user + system) of each program run: on a shared machine they vary much less
# than wall time. The search bench's time is less that of the same run to depth 0, which only clears the
# tables. The speed-up is base median / head median (above 1: HEAD is faster). The node counts of both
# sides are compared too: they must be identical.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/rounds.sh
repo=$PWD

rounds=3 depth=8 w32=1 callgrind=0
while getopts "n:d:sc" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    d) depth=$OPTARG ;;
    s) w32=0 ;;
    c) callgrind=1 ;;
    *) sed -n '2,20p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 2 ] || { sed -n '2,20p' "$0" >&2; exit 2; }

scratch=${VORNA_SCRATCH:-${TMPDIR:-/tmp}/vorna-compare-$(id -u)}
mkdir -p "$scratch"

# Sources of one side into $scratch/<name>/src, built in $scratch/<name>/build; prints the build dir.
prepare() {
  local rev=$1 name dir
  if [ "$rev" = worktree ]; then
    name=worktree
    dir=$scratch/$name
    mkdir -p "$dir/src"
    # The working tree's files, tracked and untracked (ignored ones such as build dirs left out); tar
    # keeps their times, so the build in $dir/build only recompiles what changed.
    rm -rf "$dir/src/tree"
    mkdir -p "$dir/src/tree"
    git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
      [ -e "$f" ] && printf '%s\0' "$f"; done | tar --null -T - -cf - | tar -x -C "$dir/src/tree"
  else
    name=$(git rev-parse --short=12 "$rev^{commit}")
    dir=$scratch/$name
    if [ ! -d "$dir/src/tree" ]; then
      mkdir -p "$dir/src/tree"
      git archive "$name" | tar -x -C "$dir/src/tree"
    fi
  fi
  local targets="Vorna_1_12_x64 vorna-bench vorna-perft"
  [ $w32 -eq 1 ] && targets="$targets Vorna_1_12_w32 vorna-bench-w32"
  # Commits older than the build's own link to the x86 kernel headers need it from outside where
  # g++-<version>-multilib is installed without g++-multilib's /usr/include/asm (the 64-bit program
  # finds its own first).
  local flags=()
  if [ ! -e /usr/include/asm ] && [ -d /usr/include/x86_64-linux-gnu/asm ]; then
    mkdir -p "$scratch/include32"
    ln -sfn /usr/include/x86_64-linux-gnu/asm "$scratch/include32/asm"
    flags=(-DCMAKE_CXX_FLAGS="-idirafter $scratch/include32")
  fi
  {
    cmake -S "$dir/src/tree" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DVORNA_TESTS=OFF "${flags[@]}" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$dir/build" -j"$(nproc)" --target $targets >/dev/null
  } >&2
  echo "$dir/build"
}

describe() {
  if [ "$1" = worktree ]; then echo "worktree ($(git rev-parse --short HEAD) + changes)"; else git log -1 --format='%h %s' "$1" | cut -c1-70; fi
}

echo "== building base: $(describe "$1")"
base=$(prepare "$1")
echo "== building head: $(describe "$2")"
head=$(prepare "$2")

# Runs "$@" with stdin from $input, output to $out; prints CPU seconds (user + system).
cpu_of() {
  local t
  t=$( { TIMEFORMAT='%3U %3S'; time "$@" <"$input" >"$out" 2>/dev/null; } 2>&1 )
  echo "$t" | awk '{ printf "%.3f", $1 + $2 }'
}

results=$scratch/results.$$
rm -f "$results"
trap 'rm -f "$results" "$scratch"/out.$$ "$scratch"/out.$$.keep "$scratch"/in.$$ "$scratch"/counts.*.$$' EXIT
out=$scratch/out.$$
input=$scratch/in.$$

# One measurement: kind side → appends "kind side seconds" and keeps the node counts per side.
measure() {
  local kind=$1 side=$2 dir
  [ "$side" = base ] && dir=$base || dir=$head
  local secs
  case $kind in
    perft64) echo perft >"$input"; secs=$(cpu_of "$dir/Vorna_1_12_x64") ;;
    perft32) echo perft >"$input"; secs=$(cpu_of "$repo/tools/launch" "$dir/Vorna_1_12_w32") ;;
    # The bench clears its 128 MB table before each position; the same run to depth 0 does only that,
    # and its time is taken off, so that the figure is the search's own.
    search64) : >"$input"; secs=$(cpu_of "$dir/vorna-bench" search "$depth")
              mv "$out" "$out.keep"; secs=$(echo "$secs - $(cpu_of "$dir/vorna-bench" search 0)" | bc); mv "$out.keep" "$out" ;;
    search32) : >"$input"; secs=$(cpu_of "$repo/tools/launch" "$dir/vorna-bench-w32" search "$depth")
              mv "$out" "$out.keep"; secs=$(echo "$secs - $(cpu_of "$repo/tools/launch" "$dir/vorna-bench-w32" search 0)" | bc); mv "$out.keep" "$out" ;;
  esac
  case $kind in
    perft*) grep -o 'nodes = *[0-9]*' "$out" | tr -d ' ' >"$scratch/counts.$kind.$side.$$" ;;
    search*) grep -E '^(total nodes|signature)' "$out" | sed 's/, time.*//' >"$scratch/counts.$kind.$side.$$" ;;
  esac
  echo "$kind $side $secs" >>"$results"
}

kinds="perft64 search64"
[ $w32 -eq 1 ] && kinds="perft64 perft32 search64 search32"
# shellcheck disable=SC2086  # the kinds are meant to be split into words
alternate_rounds "$rounds" base head $kinds
report_heading "$rounds"
echo "   base: $(describe "$1")"
echo "   head: $(describe "$2")"
search_nodes=$(sed -n 's/^total nodes //p' "$scratch/counts.search64.base.$$")
printf '   %-36s %19s %19s %9s\n' "CPU seconds, min / median" base head speed-up
for kind in $kinds; do
  case $kind in
    perft64) label="perft suite, 64-bit program" ;;
    perft32) label="perft suite, 32-bit program" ;;
    search64) label="search bench depth $depth, 64-bit" ;;
    search32) label="search bench depth $depth, 32-bit" ;;
  esac
  awk -v kind="$kind" -v label="$label" -v nodes="$search_nodes" '
    $1 == kind { v[$2, ++n[$2]] = $3 }
    function stats(side,    i, j, t, m) {
      m = n[side]
      for (i = 1; i <= m; ++i) a[i] = v[side, i]
      for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      mn = a[1]; md = (m % 2) ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
    }
    END {
      stats("base"); bmin = mn; bmed = md
      stats("head"); hmin = mn; hmed = md
      printf "   %-36s %8.2f / %8.2f %8.2f / %8.2f %8.2fx\n", label, bmin, bmed, hmin, hmed, bmed / hmed
      if (kind ~ /^search/ && nodes > 0)
        printf "   %-36s %8.2f / %8.2f %8.2f / %8.2f   (M nodes/s, max / median)\n", "", nodes / bmin / 1e6, nodes / bmed / 1e6, nodes / hmin / 1e6, nodes / hmed / 1e6
    }' "$results"
done
if [ $w32 -eq 1 ]; then
  awk '$1 ~ /^perft/ { v[$1 " " $2] = v[$1 " " $2] " " $3 }
    function med(s,    a, m, i, j, t) { m = split(s, a, " ")
      for (i = 1; i <= m; ++i) for (j = i + 1; j <= m; ++j) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
      return (m % 2) ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2 }
    END { printf "   32-bit perft / 64-bit perft (medians): base %.2f, head %.2f\n",
            med(v["perft32 base"]) / med(v["perft64 base"]), med(v["perft32 head"]) / med(v["perft64 head"]) }' "$results"
fi

same=1
for kind in $kinds; do
  cmp -s "$scratch/counts.$kind.base.$$" "$scratch/counts.$kind.head.$$" || { same=0; echo "   DIFFERENT counts in $kind:"; diff "$scratch/counts.$kind.base.$$" "$scratch/counts.$kind.head.$$" | sed 's/^/     /'; }
done
[ $w32 -eq 1 ] && { cmp -s "$scratch/counts.search64.head.$$" "$scratch/counts.search32.head.$$" || { same=0; echo "   the 64-bit and the 32-bit search bench of head DIFFER"; }; }
[ $same -eq 1 ] && echo "   node counts and signature identical ($(paste -sd' ' "$scratch/counts.search64.head.$$"))"

if [ $callgrind -eq 1 ]; then
  command -v valgrind >/dev/null || { echo "valgrind is missing (apt-get install valgrind)" >&2; exit 1; }
  fen="r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"
  instructions() {  # program args... → instructions executed; the program's output goes to $out
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >"$out" | sed -n 's/.*Collected : //p'
  }
  echo "== instructions (callgrind): perft of the second suite position to depth 4, search bench to depth 6"
  for side in base head; do
    [ "$side" = base ] && dir=$base || dir=$head
    p=$(instructions "$dir/vorna-perft" "$fen" 4)
    leaves=$(tail -1 "$out")
    s=$(instructions "$dir/vorna-bench" search 6)
    nodes=$(sed -n 's/^total nodes \([0-9]*\).*/\1/p' "$out")
    # The bench clears its 128 MB table before each position; a run to depth 0 does only that.
    s=$((s - $(instructions "$dir/vorna-bench" search 0)))
    printf '   %-5s perft %d leaves, %.1f instructions per leaf; search %d nodes, %.0f instructions per node\n' \
      "$side" "$leaves" "$(echo "$p / $leaves" | bc -l)" "$nodes" "$(echo "$s / $nodes" | bc -l)"
  done
fi
