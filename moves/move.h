// The move word and the fixed-capacity move list every generator writes into.
#pragma once
#include "board/types.h"

// Four bytes: from, to, kind, captured (least significant first in the 32-bit word).
struct Move {
    u8 from;
    u8 to;
    u8 kind;      // 0 ordinary; 2..5 / 8..11 promotion piece code; or one of the kinds below
    u8 captured;  // piece code taken (the enemy pawn for en passant); 0 = no capture
};

enum : u8 { KindCastling = 16, KindEnPassant = 32, KindDoublePush = 64 };

inline constexpr u32 MoveWord(Move m) {
    return u32(m.from) | u32(m.to) << 8 | u32(m.kind) << 16 | u32(m.captured) << 24;
}
inline constexpr bool operator==(Move a, Move b) { return MoveWord(a) == MoveWord(b); }
inline constexpr bool operator!=(Move a, Move b) { return MoveWord(a) != MoveWord(b); }
inline constexpr bool IsPromotion(Move m) { return (m.kind & 15) != 0; }
inline constexpr bool IsCapture(Move m) { return m.captured != 0; }

// The absence of a move; no generated move has from == to.
inline constexpr Move NullMove{0, 0, 0, 0};

inline constexpr int MaxMoves = 256;

struct MoveSlot {
    Move move;
    u16 orderKey;  // filled by whoever orders the list; generators leave it alone
};

struct MoveList {
    MoveSlot slots[MaxMoves];
    MoveSlot* end;   // first free slot; generators append here
    MoveSlot* next;  // next slot a consumer takes
};

inline void ClearMoveList(MoveList& list) { list.end = list.next = list.slots; }
inline int MoveCount(const MoveList& list) { return int(list.end - list.slots); }
