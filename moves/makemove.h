// Playing a move on the Board and taking it back. Make tests legality itself: a move that leaves the
// mover's king attacked is taken back at once and make returns false.
#pragma once
#include "moves/move.h"

// Positions made: one per legal move made, plus one per null move of the search.
extern u64 NodeCount;

bool MakeWhiteMove(Move m);
bool MakeBlackMove(Move m);
void UnmakeWhiteMove(Move m);
void UnmakeBlackMove(Move m);

// Make/unmake for the side to move (make) or the side that just moved (unmake).
bool MakeMove(Move m);
void UnmakeMove(Move m);

bool SideToMoveInCheck();

// The same make for callers that have stored SideToMoveInCheck() into InCheck of the current record,
// as the full generators require: it can then skip most of the attack test. Search and perft use it.
template <int Us>
bool MakeKnownCheck(Move m);
bool MakeMoveKnownCheck(Move m);
