// The one position the engine holds, its per-ply state records and the Zobrist keys.
#pragma once
#include <array>

#include "board/types.h"

// Everything about a position that a move can change and unmake cannot recompute. One record per ply.
struct PositionState {
    u8 CastleRights;  // White king side 2, White queen side 1, Black king side 8, Black queen side 4
    u8 EpSquare;      // square a double push just passed over; 0 = none
    u8 InCheck;       // side to move in check; written by whoever generates moves next, never by make
    u64 HashKey;
    u8 Reversible;    // the move that produced this record was a quiet non-pawn move
    // What make's short legality test knows of the position, stored with InCheck by StoreCheckState:
    Bitboard RiskyOrigins;  // origins of the moves that may leave the king of the side to move attacked:
                            // its own square and its pinned pieces, every square while it is in check
    Bitboard Pinned;        // pieces of the side to move that stand alone between their king and a slider
    Bitboard CheckBlocks;   // targets on which a move of another piece than the king answers a check: the
                            // checker and the squares between it and the king; none in a double check,
                            // every square when the king is not in check
};

inline constexpr int StateStackSize = 1024;

struct BoardData {
    PieceCode Mailbox[64];
    Bitboard PieceBB[13];  // indexed by piece code 1..12; entry 0 stays empty
    Bitboard WhitePieces;
    Bitboard BlackPieces;
    u8 SideToMove;  // 1 = White, 0 = Black
    PositionState StateStack[StateStackSize];
    PositionState* CurrentState;
};

// Written only by SetBoard/FlipColours and by make/unmake; everything else reads it.
extern BoardData Board;

// Zobrist keys, filled once by InitZobrist.
extern u64 PieceSquareKeys[13][64];
extern u64 EpKeys[64];  // only squares of ranks 3 and 6 have keys; the rest stay 0
extern u64 CastleKeys[16];
extern u64 SideKey;     // present when White is to move

// Board geometry.
extern const u8 CastleMask[64];
// SquareBit[s] = 1 << s. A constant table: the compiler then knows that no store of make or unmake
// changes it and keeps what it has read of it.
constexpr std::array<Bitboard, 64> MakeSquareBits() {
    std::array<Bitboard, 64> bits{};
    for (int s = 0; s < 64; ++s) bits[s] = Bitboard(1) << s;
    return bits;
}
inline constexpr std::array<Bitboard, 64> SquareBit = MakeSquareBits();
extern const u8 Mirror[64];     // s ^ 56: same file, reflected rank
extern const Bitboard FileMask[8];

void InitZobrist();
u64 ZobristRandom();   // the key source: a fixed 32-bit LCG, the same in every run and build
void ComputeHashKey();  // recomputes the current record's key from scratch
u64 FullHashKey();      // the same computation, without storing it

inline Bitboard Occupancy() { return Board.WhitePieces | Board.BlackPieces; }
inline int KingSquare(int colour) {
    return LowestSquare(Board.PieceBB[colour == White ? WhiteKing : BlackKing]);
}
inline int StateIndex() { return int(Board.CurrentState - Board.StateStack); }

// Earlier occurrences of the current position in its reversible chain, counting stops at `enough`.
// Only positions an even number of plies back (at least four) are compared, and a position counts only
// while every record from it up to the current one was reached by a reversible move.
int EarlierOccurrences(int enough);

// Text name of a square ("e3"); out needs 3 bytes.
void SquareName(int s, char* out);

// Room on the state stack. Game moves replayed by the protocol loops stay on the stack below the
// search; once they fill more than GameStackLimit records the oldest ones are dropped, keeping the
// last GameStackKeep records (enough for the repetition and fifty-move rules), so the search always
// has room above them. Returns how many records were dropped from the bottom.
inline constexpr int GameStackLimit = 512;
inline constexpr int GameStackKeep = 256;
int TrimGameStack();
