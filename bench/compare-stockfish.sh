#!/usr/bin/env bash
# Runs our perft suite (four positions and their colour-flipped twins, every leaf made and checked), the
# same suite of the 32-bit program, and Stockfish's bulk-counting perft on the same eight counts
# (Stockfish counts the last ply from its legal move list without making those moves), round after
# round with the order rotated, and prints min and median CPU seconds of each and the ratios.
# Usage: bench/compare-stockfish.sh [-n ROUNDS] [build dir]   (Stockfish from Debian's package "stockfish")
# The 32-bit program is started through tools/launch. CPU seconds (user + system) vary much less than wall
# time on a shared machine; the load average is printed beside them.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/rounds.sh
rounds=3
if [ "${1:-}" = -n ]; then rounds=$2; shift 2; fi
build=${1:-build}
engine="$build/Vorna_1_12_x64"
[ -x "$engine" ] || { echo "no $engine: run tools/build.sh first" >&2; exit 1; }
engine32="$build/Vorna_1_12_w32"
[ -x "$engine32" ] || engine32=""
sf=$(command -v stockfish || echo /usr/games/stockfish)
[ -x "$sf" ] || { echo "stockfish is not installed (apt-get install stockfish)" >&2; exit 1; }

fens=(
  "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1|6"
  "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1|6"
  "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1|5"
  "r3k2r/pppbbppp/2n2q1P/1P2p3/3pn3/BN2PNP1/P1PPQPB1/R3K2R b KQkq - 0 1|5"
  "8/PPP4k/8/8/8/8/4Kppp/8 w - - 0 1|6"
  "8/4kPPP/8/8/8/8/ppp4K/8 b - - 0 1|6"
  "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1|7"
  "8/4p1p1/8/1r3P1K/kp5R/3P4/2P5/8 b - - 0 1|7"
)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

stockfish_counts() {
  for entry in "${fens[@]}"; do
    printf 'position fen %s\ngo perft %s\nquit\n' "${entry%|*}" "${entry#*|}" | "$sf" | sed -n 's/^Nodes searched: //p'
  done
}
ours() { echo perft | "$@" | sed -n 's/.*nodes = *\([0-9]*\).*/\1/p'; }

# Runs one side (its output's counts go to $tmp/<side>.counts) and appends its CPU seconds to $tmp/<side>.
run() {
  local side=$1 t
  shift
  t=$( { TIMEFORMAT='%3U %3S'; time "$@" >"$tmp/$side.counts" 2>/dev/null; } 2>&1 )
  echo "$t" | awk '{ printf "%.3f\n", $1 + $2 }' >>"$tmp/$side"
}

sides=(x64 sf)
[ -n "$engine32" ] && sides=(x64 w32 sf)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((r = 0; r < rounds; ++r)); do
  for ((i = 0; i < ${#sides[@]}; ++i)); do
    side=${sides[$(((i + r) % ${#sides[@]}))]}
    case $side in
      x64) run x64 ours "$engine" ;;
      w32) run w32 ours tools/launch "$engine32" ;;
      sf) run sf stockfish_counts ;;
    esac
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

stats() {  # file → "min median"
  sort -n "$1" | awk '{ a[NR] = $1 } END { m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2; printf "%.2f %.2f", a[1], m }'
}
read -r sfmin sfmed <<<"$(stats "$tmp/sf")"
read -r min med <<<"$(stats "$tmp/x64")"
report_heading "$rounds"
echo "   CPU seconds, min / median          (Stockfish: $("$sf" <<<quit | head -1 | cut -d' ' -f1-2))"
printf '   Stockfish bulk-counting perft  %6.2f / %6.2f\n' "$sfmin" "$sfmed"
printf '   Vorna_1_12_x64 perft suite     %6.2f / %6.2f   ratio to Stockfish %.2f\n' "$min" "$med" \
  "$(echo "$med / $sfmed" | bc -l)"
if [ -n "$engine32" ]; then
  read -r min32 med32 <<<"$(stats "$tmp/w32")"
  printf '   Vorna_1_12_w32 perft suite     %6.2f / %6.2f   ratio to Stockfish %.2f, to the 64-bit program %.2f\n' \
    "$min32" "$med32" "$(echo "$med32 / $sfmed" | bc -l)" "$(echo "$med32 / $med" | bc -l)"
fi
for side in "${sides[@]}"; do
  cmp -s "$tmp/$side.counts" "$tmp/sf.counts" || echo "   the counts of $side DIFFER from Stockfish's"
done
echo "   counts: $(paste -sd' ' "$tmp/sf.counts")"
