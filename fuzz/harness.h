// What the fuzz targets share: the in-memory standard input, the engine reset between inputs, and
// consistency checks that stop the run with a message when the engine's data contradicts itself.
#pragma once
#include <cstddef>
#include <cstdint>

#include "board/board.h"
#include "moves/move.h"

// Thrown by ExitProgram in the fuzz build, where the whole run is one process.
struct ProgramExit {
    int status;
};

// Once per process: tables, keys, and a scratch directory for the log files (removed at exit).
void InitEngineOnce();

// Puts every global of the engine (board, search limits and flags, protocol loop state, input reader,
// log) back to its state at program start and makes data the whole of standard input.
void StartInput(const uint8_t* data, size_t size);
// Closes the log the loop opened.
void EndInput();
// The memory-backed standard input (memory_platform.cpp); StartInput calls it.
void FeedInput(const uint8_t* data, size_t size);
// What the log name is built from in place of the program's name: a path ending in the name.
void SetLogPrefix(const char* prefix);

// Stops the run: prints what went wrong and the current position, then aborts.
[[noreturn]] void Fail(const char* what);
inline void Require(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// Everything of the position that make and unmake must restore.
struct Snapshot {
    PieceCode mailbox[64];
    Bitboard pieceBB[13];
    Bitboard white, black;
    u8 side;
    const PositionState* current;
    PositionState state;   // the current record
    PositionState state0;  // the bottom record
};
Snapshot TakeSnapshot();
bool SameBoard(const Snapshot& a, const Snapshot& b);

// The position agrees with itself: piece bitboards, colour sets and mailbox; one king each; no pawn
// on the first or last rank; the side not to move not in check; the key; the current record inside the
// state stack; castling rights backed by king and rook on their squares; an en-passant square only
// behind a pawn that has just made a double push.
void CheckBoard();

// Reference implementations written square by square, independent of the engine's bitboards.
bool SlowAttacked(const PieceCode* mailbox, int square, int byColour);
void SlowApply(PieceCode* mailbox, Move m, int moverColour);

// Generates the moves of the side to move and checks each one: make and the make that knows the check
// state agree on legality, the reference board agrees with make's placement and legality, the key kept
// by make equals the key recomputed from scratch, unmake restores everything, the text of the move
// parses back to it, and the tactical list is the captures and queen promotions of the full list.
// Returns the number of legal moves.
int CheckEveryMove();

// Writes the first four FEN fields of the current position; out needs 100 bytes.
void BoardToFen(char* out);
