// Announcing the end of a game in the xboard loop: mate, stalemate, repetition, fifty moves and
// insufficient material, each with its result line.
#pragma once

// True when the game is over; the result line has then been written (standard output only). Stores
// the side to move's check state in InCheck of the current record.
bool CheckGameEnd();
bool HasNoLegalMove();
bool IsRepetitionDraw();
bool IsInsufficientMaterial();
