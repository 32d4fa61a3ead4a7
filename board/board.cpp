#include "board/board.h"

#include <cstring>

BoardData Board;

u64 PieceSquareKeys[13][64];
u64 EpKeys[64];
u64 CastleKeys[16];
u64 SideKey;

const u8 CastleMask[64] = {
    11, 15, 15, 15, 3,  15, 15, 7,   //
    15, 15, 15, 15, 15, 15, 15, 15,  //
    15, 15, 15, 15, 15, 15, 15, 15,  //
    15, 15, 15, 15, 15, 15, 15, 15,  //
    15, 15, 15, 15, 15, 15, 15, 15,  //
    15, 15, 15, 15, 15, 15, 15, 15,  //
    15, 15, 15, 15, 15, 15, 15, 15,  //
    14, 15, 15, 15, 12, 15, 15, 13,
};


// Mirror[s] = s ^ 56.
const u8 Mirror[64] = {
    56, 57, 58, 59, 60, 61, 62, 63, 48, 49, 50, 51, 52, 53, 54, 55,  //
    40, 41, 42, 43, 44, 45, 46, 47, 32, 33, 34, 35, 36, 37, 38, 39,  //
    24, 25, 26, 27, 28, 29, 30, 31, 16, 17, 18, 19, 20, 21, 22, 23,  //
    8,  9,  10, 11, 12, 13, 14, 15, 0,  1,  2,  3,  4,  5,  6,  7,
};

const Bitboard FileMask[8] = {
    0x0101010101010101ull, 0x0202020202020202ull, 0x0404040404040404ull, 0x0808080808080808ull,
    0x1010101010101010ull, 0x2020202020202020ull, 0x4040404040404040ull, 0x8080808080808080ull,
};

static u32 ZobristState = 1;

u64 ZobristRandom() {
    // 64 draws of a 15-bit LCG output, one bit each; the first draw ends up in bit 63.
    u64 key = 0;
    for (int i = 0; i < 64; ++i) {
        ZobristState = ZobristState * 214013u + 2531011u;
        key = (key << 1) | ((ZobristState >> 16) & 1);
    }
    return key;
}

void InitZobrist() {
    ZobristState = 1;
    for (auto& row : PieceSquareKeys)
        for (auto& key : row) key = ZobristRandom();
    for (int i = 0; i < 8; ++i) {
        EpKeys[A6 + i] = ZobristRandom();
        EpKeys[A3 + i] = ZobristRandom();
    }
    for (auto& key : CastleKeys) key = ZobristRandom();
    SideKey = ZobristRandom();
}

u64 FullHashKey() {
    u64 key = 0;
    for (int s = 0; s < 64; ++s)
        if (Board.Mailbox[s]) key ^= PieceSquareKeys[Board.Mailbox[s]][s];
    key ^= CastleKeys[Board.CurrentState->CastleRights & 15];
    key ^= EpKeys[Board.CurrentState->EpSquare & 63];
    if (Board.SideToMove) key ^= SideKey;
    return key;
}

void ComputeHashKey() { Board.CurrentState->HashKey = FullHashKey(); }

int EarlierOccurrences(int enough) {
    const PositionState* stack = Board.StateStack;
    int n = StateIndex();
    if (n < 4) return 0;
    for (int i = n - 3; i <= n; ++i)
        if (!stack[i].Reversible) return 0;
    int found = 0;
    for (int j = n - 4; j >= 0; j -= 2) {
        if (!stack[j].Reversible) break;
        if (stack[j].HashKey == stack[n].HashKey && ++found == enough) break;
        if (j > 0 && !stack[j - 1].Reversible) break;
    }
    return found;
}

void SquareName(int s, char* out) {
    out[0] = char('a' + FileOf(s));
    out[1] = char('8' - RowOf(s));
    out[2] = 0;
}

int TrimGameStack() {
    int n = StateIndex();
    if (n < GameStackLimit) return 0;
    int drop = n + 1 - GameStackKeep;
    std::memmove(Board.StateStack, Board.StateStack + drop, sizeof(PositionState) * GameStackKeep);
    Board.CurrentState -= drop;
    return drop;
}
