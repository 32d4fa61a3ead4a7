#include "moves/makemove.h"

#include "moves/makemove_inline.h"

u64 NodeCount = 0;

bool MakeWhiteMove(Move m) { return MakeOf<White, false>(m); }
bool MakeBlackMove(Move m) { return MakeOf<Black, false>(m); }
void UnmakeWhiteMove(Move m) { UnmakeOf<White>(m); }
void UnmakeBlackMove(Move m) { UnmakeOf<Black>(m); }

void StoreRiskyOrigins() {
    if (Board.SideToMove == White)
        StoreRiskyOriginsOf<White>();
    else
        StoreRiskyOriginsOf<Black>();
}

bool StoreCheckState() { return Board.SideToMove == White ? StoreCheckStateOf<White>() : StoreCheckStateOf<Black>(); }

bool MakeMove(Move m) { return Board.SideToMove == White ? MakeOf<White, false>(m) : MakeOf<Black, false>(m); }
bool MakeMoveKnownCheck(Move m) { return Board.SideToMove == White ? MakeOf<White, true>(m) : MakeOf<Black, true>(m); }
void UnmakeMove(Move m) {
    if (Board.SideToMove == White)
        UnmakeOf<Black>(m);
    else
        UnmakeOf<White>(m);
}

bool SideToMoveInCheck() {
    return Board.SideToMove == White ? AttackedBy<Black>(KingSquare(White)) : AttackedBy<White>(KingSquare(Black));
}
