// The perft self-test: counts the leaves of the legal move tree, making every move including the last
// ply, so make's legality test is part of every count.
#pragma once
#include "board/types.h"

extern u64 PerftCount;

// Adds the number of legal move sequences of length depth (at least 1) to PerftCount.
void Perft(u8 depth);
// Counts the current position to depth and prints one timing line.
void RunPerft(u8 depth);
// The built-in suite: four positions and their colour-flipped twins.
void PerftSuite();
