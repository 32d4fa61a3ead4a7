// Basic numbering shared by the whole engine: squares, bitboards, piece codes, and the bit tricks on
// bitboards. Square 0 is a8, 7 is h8, 56 is a1, 63 is h1; White moves towards lower square numbers.
#pragma once
#include <cstdint>

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;
using i16 = int16_t;
using i32 = int32_t;

using Square = u8;
using Bitboard = u64;
using PieceCode = u8;

// Side numbering follows SideToMove: 1 = White, 0 = Black.
enum Colour : int { Black = 0, White = 1 };

enum : PieceCode {
    NoPiece = 0,
    WhitePawn = 1, WhiteKnight, WhiteBishop, WhiteRook, WhiteQueen, WhiteKing,
    BlackPawn = 7, BlackKnight, BlackBishop, BlackRook, BlackQueen, BlackKing,
};

// The letter of each piece code at its index.
inline constexpr char PieceLetters[] = ".PNBRQKpnbrqk";

// Piece code of a piece type (pawn = 1 .. king = 6) for the colour Us.
template <int Us>
constexpr PieceCode Piece(int type) { return PieceCode(Us == White ? type : type + 6); }

constexpr int FileOf(int s) { return s & 7; }
constexpr int RowOf(int s) { return s >> 3; }  // 0 = rank 8, 7 = rank 1

enum : Square {
    A8 = 0, B8, C8, D8, E8, F8, G8, H8,
    A7 = 8, B7, C7, D7, E7, F7, G7, H7,
    A6 = 16, H6 = 23,
    A3 = 40, H3 = 47,
    A2 = 48, B2, C2, D2, E2, F2, G2, H2,
    A1 = 56, B1, C1, D1, E1, F1, G1, H1,
};

// For the few hot routines whose callers must not pay for a call (make, unmake and the move loops
// around them).
#define VORNA_INLINE inline __attribute__((always_inline))

// Bit operations. The 32-bit build works on the two halves of a bitboard, which is what a 32-bit
// target does well; both paths give identical results. WebAssembly has 64-bit integer instructions
// (count of trailing zeros, population count) beside its 32-bit addresses: there the 64-bit path is
// the faster one (search bench under Node 1.15x the 32-bit path's speed).
#if UINTPTR_MAX == 0xFFFFFFFFu && !defined(__wasm__)
#define VORNA_32BIT_ARITH 1
#endif

// Square of the lowest set bit; b must not be empty.
inline int LowestSquare(Bitboard b) {
#ifdef VORNA_32BIT_ARITH
    u32 lo = u32(b);
    return lo ? __builtin_ctz(lo) : 32 + __builtin_ctz(u32(b >> 32));
#else
    return __builtin_ctzll(b);
#endif
}

inline int PopCount(Bitboard b) {
#ifdef VORNA_32BIT_ARITH
    // SWAR count on each half: no popcnt instruction on the 32-bit baseline.
    auto count32 = [](u32 x) {
        x = x - ((x >> 1) & 0x55555555u);
        x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
        x = (x + (x >> 4)) & 0x0F0F0F0Fu;
        return int((x * 0x01010101u) >> 24);
    };
    return count32(u32(b)) + count32(u32(b >> 32));
#else
    return __builtin_popcountll(b);
#endif
}

// Whether square s, whose bit the caller has at hand, is in b. The 32-bit program looks at the one
// half that holds it.
inline bool HasSquare(Bitboard b, int s, Bitboard bit) {
#ifdef VORNA_32BIT_ARITH
    (void)bit;
    return (u32(s < 32 ? b : b >> 32) >> (s & 31)) & 1;
#else
    (void)s;
    return (b & bit) != 0;
#endif
}

// Removes the lowest set bit and returns its square; b must not be empty.
inline int PopLowest(Bitboard& b) {
    int s = LowestSquare(b);
    b &= b - 1;
    return s;
}

// Calls visit(square) for every set square of b in ascending order. The 32-bit program walks the two
// halves one after the other, each with 32-bit arithmetic.
template <class Visit>
VORNA_INLINE void ForEachSquare(Bitboard b, Visit&& visit) {
#ifdef VORNA_32BIT_ARITH
    for (u32 lo = u32(b); lo; lo &= lo - 1) visit(__builtin_ctz(lo));
    for (u32 hi = u32(b >> 32); hi; hi &= hi - 1) visit(32 + __builtin_ctz(hi));
#elif defined(__x86_64__)
    // The square straight into a 64-bit register: no extension of an int, and no clearing of the register
    // first (the compiler's guard against a false dependency, which the loop's own chain makes moot).
    // tzcnt runs as bsf on processors without it, with the same result for a set that is not empty.
    for (; b; b &= b - 1) {
        u64 s;
        asm("tzcnt %1, %0" : "=r"(s) : "r"(b));
        visit(s);
    }
#else
    for (; b; b &= b - 1) visit(unsigned(__builtin_ctzll(b)));
#endif
}
