// The bodies of the generators, for the loops that inline them: the list generators of moves/movegen.cpp
// and the last perft ply, which makes each move as it is produced.
#pragma once
#include <cstring>

#include "board/attacks.h"
#include "moves/move.h"

// Lambdas of the loops below are inlined wherever they are used.
#define VORNA_LAMBDA_INLINE __attribute__((always_inline))

namespace movegen {
constexpr Bitboard NotFileA = ~0x0101010101010101ull;
constexpr Bitboard NotFileH = ~0x8080808080808080ull;
constexpr Bitboard Rank8 = 0x00000000000000FFull;
constexpr Bitboard Rank1 = 0xFF00000000000000ull;

// A list can only overflow in set-up positions with very many pieces that move far. Such positions
// (their bound exceeds the capacity) are generated with a check on every append, which stops at the
// last slot; all others append unchecked.
//
// The generators append through a cursor of their own, which stays in a register, and hand it back to
// the list at the end.
struct Cursor {
    MoveSlot* end;
    MoveSlot* limit;
};

// mover: the piece of an ordinary move where the caller knows it (a list has no room for it).
template <bool Checked>
VORNA_INLINE void Add(Cursor& out, unsigned from, unsigned to, unsigned kind, unsigned captured, PieceCode = 0) {
    if (Checked && out.end == out.limit) return;
    // One store of the whole word rather than four of its bytes.
    u32 word = from | to << 8 | kind << 16 | captured << 24;
    std::memcpy(&out.end->move, &word, sizeof word);
    ++out.end;
}

// Any other sink takes each move as it is produced (a loop that makes it at once has no list to fill),
// with the piece that moves when it is known.
template <bool Checked, class Sink>
VORNA_INLINE void Add(Sink& out, unsigned from, unsigned to, unsigned kind, unsigned captured, PieceCode mover = 0) {
    // a pawn's origin is its target less a step: tell the compiler it stays on the board
    if (from > 63 || to > 63) __builtin_unreachable();
    out(from | to << 8 | kind << 16 | captured << 24, mover);
}

// Colour-dependent constants: pawns advance by Forward (a8 = 0, so White's is -8).
template <int Us>
struct Side {
    static constexpr int Forward = Us == White ? -8 : 8;
    static constexpr Bitboard PromotionRank = Us == White ? Rank8 : Rank1;
    static constexpr Bitboard DoublePushRank = Us == White ? 0x000000FF00000000ull : 0x00000000FF000000ull;
    static Bitboard Advance(Bitboard b) { return Us == White ? b >> 8 : b << 8; }
    static Bitboard Own() { return Us == White ? Board.WhitePieces : Board.BlackPieces; }
    static Bitboard Enemy() { return Us == White ? Board.BlackPieces : Board.WhitePieces; }
};

template <int Us>
int MoveBound() {
    const Bitboard* bb = Board.PieceBB;
    return 12 * PopCount(bb[Piece<Us>(1)]) + 8 * PopCount(bb[Piece<Us>(2)]) + 13 * PopCount(bb[Piece<Us>(3)]) +
           14 * PopCount(bb[Piece<Us>(4)]) + 27 * PopCount(bb[Piece<Us>(5)]) + 10;
}

// Whether the moves of Us fit behind the count already in the list. Most positions are settled by the
// number of pieces alone: no piece has more than a queen's 27 moves, none but a queen more than a rook's
// 14, and the king has 8 and two castlings.
template <int Us>
bool MovesFit(int count) {
    const int pieces = PopCount(Side<Us>::Own());
    if (27 * (pieces - 1) + 10 + count <= MaxMoves) return true;
    const Bitboard queens = Board.PieceBB[Piece<Us>(5)];
    if (!(queens & (queens - 1)) && 27 + 14 * (pieces - 2) + 10 + count <= MaxMoves) return true;
    return MoveBound<Us>() + count <= MaxMoves;
}

// Pawn moves onto the targets, each from to - delta. Promotions give four moves in the order queen,
// rook, knight, bishop (or only the queen in the tactical list).
template <int Us, bool Checked, bool QueenOnly, class Sink>
VORNA_INLINE void AddPawnMoves(Sink& list, Bitboard targets, int delta, bool captures) {
    using S = Side<Us>;
    Bitboard promos = targets & S::PromotionRank;
    Bitboard others = targets & ~S::PromotionRank;
    auto addPromos = [&]() VORNA_LAMBDA_INLINE {
        ForEachSquare(promos, [&](auto to) VORNA_LAMBDA_INLINE {
            int cap = captures ? Board.Mailbox[to] : 0;
            Add<Checked>(list, to - delta, to, Piece<Us>(5), cap);
            if (QueenOnly) return;
            Add<Checked>(list, to - delta, to, Piece<Us>(4), cap);
            Add<Checked>(list, to - delta, to, Piece<Us>(2), cap);
            Add<Checked>(list, to - delta, to, Piece<Us>(3), cap);
        });
    };
    // Walked in ascending square order: White promotes on the lowest squares, Black on the highest.
    if (Us == White) addPromos();
    ForEachSquare(others, [&](auto to) VORNA_LAMBDA_INLINE {
        Add<Checked>(list, to - delta, to, 0, captures ? Board.Mailbox[to] : 0, Piece<Us>(1));
    });
    if (Us == Black) addPromos();
}

template <int Type>
inline Bitboard PieceTargets(int from, Bitboard occ) {
    if constexpr (Type == 2) return KnightAttacks[from];
    if constexpr (Type == 3) return BishopAttacksFrom(from, occ);
    if constexpr (Type == 4) return RookAttacksFrom(from, occ);
    if constexpr (Type == 5) return BishopAttacksFrom(from, occ) | RookAttacksFrom(from, occ);
    if constexpr (Type == 6) return KingAttacks[from];
}

// Moves of every piece of one type, origins and targets in ascending square order.
template <int Us, bool Checked, int Type, class Sink>
VORNA_INLINE void AddPieceMoves(Sink& list, Bitboard mask) {
    Bitboard occ = Occupancy();
    Bitboard pieces = Board.PieceBB[Piece<Us>(Type)];
    ForEachSquare(pieces, [&](auto from) VORNA_LAMBDA_INLINE {
        Bitboard targets = PieceTargets<Type>(from, occ) & mask;
        ForEachSquare(targets, [&](auto to) VORNA_LAMBDA_INLINE {
            Add<Checked>(list, from, to, 0, Board.Mailbox[to], Piece<Us>(Type));
        });
    });
}

// Pawn captures: White first towards the h-file, Black first towards the a-file.
template <int Us, bool Checked, bool QueenOnly, class Sink>
VORNA_INLINE void AddPawnCaptures(Sink& list) {
    Bitboard pawns = Board.PieceBB[Piece<Us>(1)];
    Bitboard enemy = Side<Us>::Enemy();
    const PositionState* st = Board.CurrentState;
    if (st->EpSquare) {
        Bitboard origins = PawnAttackers<Us>()[st->EpSquare] & pawns;
        ForEachSquare(origins, [&](auto from) VORNA_LAMBDA_INLINE { Add<Checked>(list, from, st->EpSquare, KindEnPassant, Piece<1 - Us>(1)); });
    }
    if (Us == White) {
        AddPawnMoves<Us, Checked, QueenOnly>(list, (pawns >> 7) & enemy & NotFileA, -7, true);
        AddPawnMoves<Us, Checked, QueenOnly>(list, (pawns >> 9) & enemy & NotFileH, -9, true);
    } else {
        AddPawnMoves<Us, Checked, QueenOnly>(list, ((pawns & NotFileA) << 7) & enemy, 7, true);
        AddPawnMoves<Us, Checked, QueenOnly>(list, ((pawns & NotFileH) << 9) & enemy, 9, true);
    }
}

template <int Us, bool Checked, class Sink>
VORNA_INLINE void Generate(Sink& list) {
    using S = Side<Us>;
    constexpr int Them = 1 - Us;
    Bitboard empty = ~Occupancy();
    Bitboard notOwn = ~S::Own();

    AddPawnCaptures<Us, Checked, false>(list);
    Bitboard single = S::Advance(Board.PieceBB[Piece<Us>(1)]) & empty;
    Bitboard twice = S::Advance(single) & empty & S::DoublePushRank;
    ForEachSquare(twice, [&](auto to) VORNA_LAMBDA_INLINE { Add<Checked>(list, to - 2 * S::Forward, to, KindDoublePush, 0); });
    AddPawnMoves<Us, Checked, false>(list, single, S::Forward, false);
    AddPieceMoves<Us, Checked, 2>(list, notOwn);
    AddPieceMoves<Us, Checked, 3>(list, notOwn);
    AddPieceMoves<Us, Checked, 4>(list, notOwn);
    AddPieceMoves<Us, Checked, 5>(list, notOwn);

    // Castling: the rights guarantee king and rook on their home squares; the king may not be in
    // check nor pass over or land on an attacked square (b1/b8 only has to be empty).
    const PositionState* st = Board.CurrentState;
    if (!st->InCheck) {
        constexpr int Base = Us == White ? 56 : 0;  // a1 or a8
        constexpr u8 KingSide = Us == White ? 2 : 8, QueenSide = Us == White ? 1 : 4;
        const PieceCode* m = Board.Mailbox;
        if ((st->CastleRights & KingSide) && !m[Base + 5] && !m[Base + 6] && !AttackedBy<Them>(Base + 5) &&
            !AttackedBy<Them>(Base + 6))
            Add<Checked>(list, Base + 4, Base + 6, KindCastling, 0);
        if ((st->CastleRights & QueenSide) && !m[Base + 3] && !m[Base + 2] && !m[Base + 1] &&
            !AttackedBy<Them>(Base + 3) && !AttackedBy<Them>(Base + 2))
            Add<Checked>(list, Base + 4, Base + 2, KindCastling, 0);
    }
    AddPieceMoves<Us, Checked, 6>(list, notOwn);
}

}  // namespace movegen
