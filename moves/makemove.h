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

// Stores the check state of the side to move into the current record: InCheck (as SideToMoveInCheck
// gives it, which the full generators need) and what make's short legality test reads (RiskyOrigins,
// Pinned, CheckBlocks). Returns InCheck.
bool StoreCheckState();
// The same without InCheck, for a caller that has stored InCheck itself.
void StoreRiskyOrigins();

// The same make for callers that have run StoreCheckState() on the current position: it can then skip
// most of the attack test. Search and perft use it (their loops inline MakeOf<Us, true> of
// moves/makemove_inline.h).
bool MakeMoveKnownCheck(Move m);
