#!/usr/bin/env bash
# Runs our perft suite (four positions and their colour-flipped twins, every leaf made and checked) and
# Stockfish's bulk-counting perft on the same eight counts, one after the other, and prints the ratio.
# Usage: bench/compare-stockfish.sh [build dir]   (Stockfish from Debian's package "stockfish")
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
engine="$build/Vorna_1_12_x64"
[ -x "$engine" ] || { echo "no $engine: run tools/build.sh first" >&2; exit 1; }
sf=$(command -v stockfish || echo /usr/games/stockfish)
[ -x "$sf" ] || { echo "stockfish is not installed (apt-get install stockfish)" >&2; exit 1; }

now() { date +%s.%N; }
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

suite() {  # runs one program's perft suite; prints its lines and sets $took
  echo "== Vorna perft suite ($1)"
  local t0 t1
  t0=$(now)
  echo perft | "$1" | grep -E "^depth" | sed 's/^/  /'
  t1=$(now)
  took=$(echo "$t1 - $t0" | bc -l)
}
suite "$engine"
ours=$took
ours32=""
if [ -x "$build/Vorna_1_12_w32" ]; then
  suite "$build/Vorna_1_12_w32"
  ours32=$took
fi

echo "== Stockfish bulk-counting perft ($("$sf" <<<quit | head -1))"
t0=$(now)
for entry in "${fens[@]}"; do
  fen=${entry%|*}; depth=${entry#*|}
  nodes=$(printf 'position fen %s\ngo perft %s\nquit\n' "$fen" "$depth" | "$sf" | sed -n 's/^Nodes searched: //p')
  echo "  depth = $depth, nodes = $nodes"
done
t1=$(now)
theirs=$(echo "$t1 - $t0" | bc -l)

printf '== %s on %s (%s cores, load %s)\n' "$(date -u +%Y-%m-%d)" "$(uname -m)" "$(nproc)" "$(cut -d' ' -f1 /proc/loadavg)"
printf '   Vorna_1_12_x64 %.2f s, Stockfish %.2f s, ratio %.2f\n' "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
if [ -n "$ours32" ]; then
  printf '   Vorna_1_12_w32 %.2f s, Stockfish %.2f s, ratio %.2f\n' "$ours32" "$theirs" "$(echo "$ours32 / $theirs" | bc -l)"
fi
