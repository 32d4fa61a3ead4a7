// Coordinate move text: e2e4, e7e8q, castling as the king's move (e1g1).
#pragma once
#include "moves/move.h"

// Writes the text of m and a terminating zero; out needs 6 bytes. NullMove renders as a8a8.
void MoveToText(Move m, char* out);

// The generated move of the side to move whose text equals text (letter case ignored), or NullMove.
// InCheck of the current record must be up to date (it decides whether castling is a candidate).
Move TextToMove(const char* text);
