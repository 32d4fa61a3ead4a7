// Setting up a position from FEN text, and the colour flip used by the perft self-test.
#pragma once
#include "board/board.h"

inline constexpr char StartFen[] = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";

// Reads the first four FEN fields (placement, side, castling, en passant) of a NUL-terminated text and
// makes it the current position with a fresh state stack. Returns false, leaving the Board exactly as
// it was, when the text does not describe a playable position.
bool SetBoard(const char* text);

// Why the last SetBoard refused its text; empty after a success.
extern const char* SetBoardError;

// Turns the position into its colour-mirrored twin. The caller recomputes the key afterwards.
void FlipColours();
