#include "frontend/gameend.h"

#include <cstdio>

#include "board/board.h"
#include "moves/makemove.h"
#include "moves/movegen.h"

bool HasNoLegalMove() {
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    for (MoveSlot* slot = list.slots; slot < list.end; ++slot) {
        if (MakeMove(slot->move)) {
            UnmakeMove(slot->move);
            return false;
        }
    }
    return true;
}

// Threefold repetition: the current position and two earlier occurrences in its reversible chain.
bool IsRepetitionDraw() { return EarlierOccurrences(2) >= 2; }

namespace {
bool FiftyMoves() {
    const PositionState* stack = Board.StateStack;
    int n = StateIndex();
    if (n < 100) return false;
    for (int i = n; i > n - 100; --i)
        if (!stack[i].Reversible) return false;
    return true;
}

int SquareColour(int s) { return (s + (s >> 3)) & 1; }
}  // namespace

bool IsInsufficientMaterial() {
    const Bitboard* bb = Board.PieceBB;
    if (bb[WhitePawn] | bb[WhiteRook] | bb[WhiteQueen] | bb[BlackPawn] | bb[BlackRook] | bb[BlackQueen]) return false;
    int k = PopCount(Occupancy());
    if (k <= 3) return true;
    if (k > 4) return false;
    if (!bb[WhiteBishop] || !bb[BlackBishop]) return false;
    return SquareColour(LowestSquare(bb[WhiteBishop])) == SquareColour(LowestSquare(bb[BlackBishop]));
}

bool CheckGameEnd() {
    bool inCheck = SideToMoveInCheck();
    Board.CurrentState->InCheck = inCheck;
    const char* line = nullptr;
    if (HasNoLegalMove())
        line = !inCheck ? "1/2-1/2 {stalemate}\n" : Board.SideToMove == White ? "0-1 {mate}\n" : "1-0 {mate}\n";
    else if (IsRepetitionDraw())
        line = "1/2-1/2 {repetition}\n";
    else if (FiftyMoves())
        line = "1/2-1/2 {50 moves}\n";
    else if (IsInsufficientMaterial())
        line = "1/2-1/2 {insufficient material}\n";
    if (!line) return false;
    std::fputs(line, stdout);
    std::fflush(stdout);
    return true;
}
