// The search: iterative deepening at the root, alpha-beta below it, quiescence at the leaves, and the
// tables the node search keeps between nodes.
#pragma once
#include "moves/move.h"

inline constexpr int MateValue = 32767;

enum : u8 { BoundLower = 1, BoundExact = 2, BoundUpper = 4 };

struct TransEntry {
    Move move;   // the move that cut off, or the node's best move
    u8 bound;
    u8 depth;    // remaining depth the node was called with
    i16 score;   // as returned at that node
    u64 key;     // the position's full HashKey
};

inline constexpr u32 TransTableSize = 1u << 23;
// Never cleared: entries survive from search to search and game to game.
extern TransEntry TransTable[TransTableSize];
// Hints the system to back the table with large pages; touches nothing. Called once at start-up.
void PrepareTransTable();

struct KillerPair {
    Move first;
    Move second;
};
inline constexpr int KillerPlies = 128;
extern KillerPair Killers[KillerPlies];  // by child ply; never cleared
extern u16 History[13][64];              // by mover piece code and target; cleared at every search

// Searches the current position under SearchLimits and returns the move to play: NullMove when the
// side to move has no legal move, the first legal move unsearched when MaxDepth is 0.
Move SearchBestMove();
void PrintThinking(u8 depth, i16 score, Move move);

i16 AlphaBeta(u8 depth, u8 ply, i16 alpha, i16 beta);
i16 Quiescence(i16 alpha, i16 beta);
void ScoreMoves(MoveList& list, u8 cply, Move hashMove);
void RewardQuietMove(Move move, u8 depthBelow, u8 cply);
bool IsRepetition();
bool NullMoveAllowed();

// Forgets everything the search learned (table, killers). Only tests and benchmarks use it, to make
// node counts independent of earlier searches.
void ClearSearchTables();
