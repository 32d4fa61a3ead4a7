// Precomputed piece geometry (magic-bitboard slider tables, knight/king/pawn tables, pawn-structure
// masks) and the two square-attacked queries every check test is built on.
#pragma once
#include "board/board.h"

extern const Bitboard BishopMask[64];
extern const Bitboard RookMask[64];
extern const int BishopBits[64];
extern const int RookBits[64];
extern const u64 BishopMagic[64];
extern const u64 RookMagic[64];

extern u8 BishopShift[64];
extern u8 RookShift[64];
extern u16 BishopOffset[64];
extern u32 RookOffset[64];
extern Bitboard BishopAttacks[5248];
extern Bitboard RookAttacks[102400];
extern Bitboard KnightAttacks[64];
extern Bitboard KingAttacks[64];
extern Bitboard WhitePawnAttackers[64];  // squares from which a White pawn attacks s
extern Bitboard BlackPawnAttackers[64];  // squares from which a Black pawn attacks s
extern Bitboard WhitePassedMask[64];
extern Bitboard BlackPassedMask[64];
extern Bitboard AdjacentFiles[64];
extern Bitboard BishopRays[64];  // bishop attacks from s on an empty board
extern Bitboard RookRays[64];    // rook attacks from s on an empty board
extern Bitboard BetweenSquares[64][64];  // squares strictly between two squares of one line, else empty

void InitTables();

#ifdef VORNA_32BIT_ARITH
// The 32-bit program has magic pairs of its own: each half of the masked occupancy is multiplied by its
// own 32-bit number and the index is the top bits of the two products combined, two 32-bit
// multiplications instead of a 64-bit one. Same index widths and slices, the same attack sets.
extern const u32 BishopMagic32[64][2];
extern const u32 RookMagic32[64][2];
// Shift counts are 64 - bits; the low five bits of that are 32 - bits.
inline u32 BishopIndex(int s, Bitboard occ) {
    Bitboard m = occ & BishopMask[s];
    return (u32(m) * BishopMagic32[s][0] ^ u32(m >> 32) * BishopMagic32[s][1]) >> (BishopShift[s] & 31);
}
inline u32 RookIndex(int s, Bitboard occ) {
    Bitboard m = occ & RookMask[s];
    return (u32(m) * RookMagic32[s][0] ^ u32(m >> 32) * RookMagic32[s][1]) >> (RookShift[s] & 31);
}
#else
inline u32 BishopIndex(int s, Bitboard occ) { return u32(((occ & BishopMask[s]) * BishopMagic[s]) >> BishopShift[s]); }
inline u32 RookIndex(int s, Bitboard occ) { return u32(((occ & RookMask[s]) * RookMagic[s]) >> RookShift[s]); }
#endif

inline Bitboard BishopAttacksFrom(int s, Bitboard occ) {
    return BishopAttacks[u16(BishopOffset[s] + u16(BishopIndex(s, occ)))];
}
inline Bitboard RookAttacksFrom(int s, Bitboard occ) { return RookAttacks[RookOffset[s] + RookIndex(s, occ)]; }

// Pawn attackers of a square for the colour Us.
template <int Us>
inline const Bitboard* PawnAttackers() { return Us == White ? WhitePawnAttackers : BlackPawnAttackers; }

// Is square s attacked by a piece of colour By? Cheap tests first, sliders last; a slider lookup only
// when a slider of By stands on one of the square's lines at all.
template <int By>
inline bool AttackedBy(int s) {
    const Bitboard* bb = Board.PieceBB;
#ifdef VORNA_32BIT_ARITH
    // The 32-bit program tests a set for emptiness in several steps: one test for the three leapers.
    if ((KnightAttacks[s] & bb[Piece<By>(2)]) | (PawnAttackers<By>()[s] & bb[Piece<By>(1)]) |
        (KingAttacks[s] & bb[Piece<By>(6)]))
        return true;
#else
    if (KnightAttacks[s] & bb[Piece<By>(2)]) return true;
    if (PawnAttackers<By>()[s] & bb[Piece<By>(1)]) return true;
    if (KingAttacks[s] & bb[Piece<By>(6)]) return true;
#endif
    Bitboard queens = bb[Piece<By>(5)];
    Bitboard rooks = (bb[Piece<By>(4)] | queens) & RookRays[s];
    if (rooks && (RookAttacksFrom(s, Occupancy()) & rooks)) return true;
    Bitboard bishops = (bb[Piece<By>(3)] | queens) & BishopRays[s];
    return bishops && (BishopAttacksFrom(s, Occupancy()) & bishops);
}

// Every piece of colour By that attacks square s.
template <int By>
inline Bitboard AttackersOf(int s) {
    const Bitboard* bb = Board.PieceBB;
    Bitboard occ = Occupancy(), queens = bb[Piece<By>(5)];
    return (KnightAttacks[s] & bb[Piece<By>(2)]) | (PawnAttackers<By>()[s] & bb[Piece<By>(1)]) |
           (KingAttacks[s] & bb[Piece<By>(6)]) | (RookAttacksFrom(s, occ) & (bb[Piece<By>(4)] | queens)) |
           (BishopAttacksFrom(s, occ) & (bb[Piece<By>(3)] | queens));
}

bool AttackedByWhite(int s);
bool AttackedByBlack(int s);

// Reference ray walks the magic tables are built from; also what the tests compare them with.
Bitboard SlowBishopAttacks(int s, Bitboard occ);
Bitboard SlowRookAttacks(int s, Bitboard occ);
