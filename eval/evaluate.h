// Static evaluation: material plus a handful of positional terms, scored for the side to move.
#pragma once
#include "board/types.h"

// Score of the current position in centipawns from the point of view of the side to move.
i16 Evaluate();
// The same score with every term computed afresh, without the cache of pawn-structure terms that
// Evaluate keeps. For tests.
i16 EvaluateUncached();

// Pawn-shelter penalty of a square in front of a king, 0 (intact) to 80. Safe for every square 0..63: a
// square whose neighbours or squares further ahead are off the board simply finds no pawn there.
u16 WhiteShelter(Square s);
u16 BlackShelter(Square s);

// Piece-square tables written for White (index 0 = a8); Black reads them at the mirrored square.
extern const i16 PassedPawnBonus[64];
extern const i16 KnightTable[64];
extern const i16 BishopTable[64];
extern const i16 KingMiddleTable[64];  // while the opponent keeps a queen and more than 900 of pieces
extern const i16 KingEndTable[64];
