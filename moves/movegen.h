// Pseudo-legal move generation in a fixed order (the search breaks ties by list position). Legality is
// left to make, which rejects moves that leave the mover's king attacked.
#pragma once
#include "moves/move.h"

// All pseudo-legal moves of one colour. The caller has stored SideToMoveInCheck() into InCheck of the
// current record (it decides whether castling is produced).
void GenerateWhiteMoves(MoveList& list);
void GenerateBlackMoves(MoveList& list);

// Captures (en passant included) and queen promotions only, for the quiescence search.
void GenerateWhiteTactical(MoveList& list);
void GenerateBlackTactical(MoveList& list);

// The generator of the side to move.
void GenerateMoves(MoveList& list);
void GenerateTactical(MoveList& list);
