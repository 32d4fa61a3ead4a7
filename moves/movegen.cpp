#include "moves/movegen.h"

#include <cstring>

#include "moves/movegen_inline.h"

namespace {
using namespace movegen;

template <int Us>
void GenerateAll(MoveList& list) {
    Cursor out{list.end, list.slots + MaxMoves};
    if (MovesFit<Us>(MoveCount(list)))
        Generate<Us, false>(out);
    else
        Generate<Us, true>(out);
    list.end = out.end;
}

// At most 16 pieces each capture at most 8 pieces, plus 8 quiet queen promotions: always fits.
template <int Us>
void GenerateCaptures(MoveList& whole) {
    using S = Side<Us>;
    Cursor list{whole.end, whole.slots + MaxMoves};
    AddPawnCaptures<Us, false, true>(list);
    Bitboard pushes = S::Advance(Board.PieceBB[Piece<Us>(1)]) & S::PromotionRank & ~Occupancy();
    AddPawnMoves<Us, false, true>(list, pushes, S::Forward, false);
    Bitboard enemy = S::Enemy();
    AddPieceMoves<Us, false, 2>(list, enemy);
    AddPieceMoves<Us, false, 3>(list, enemy);
    AddPieceMoves<Us, false, 4>(list, enemy);
    AddPieceMoves<Us, false, 5>(list, enemy);
    AddPieceMoves<Us, false, 6>(list, enemy);
    whole.end = list.end;
}
}  // namespace

void GenerateWhiteMoves(MoveList& list) { GenerateAll<White>(list); }
void GenerateBlackMoves(MoveList& list) { GenerateAll<Black>(list); }
void GenerateWhiteTactical(MoveList& list) { GenerateCaptures<White>(list); }
void GenerateBlackTactical(MoveList& list) { GenerateCaptures<Black>(list); }

void GenerateMoves(MoveList& list) {
    if (Board.SideToMove == White)
        GenerateWhiteMoves(list);
    else
        GenerateBlackMoves(list);
}

void GenerateTactical(MoveList& list) {
    if (Board.SideToMove == White)
        GenerateWhiteTactical(list);
    else
        GenerateBlackTactical(list);
}
