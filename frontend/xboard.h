// The xboard/WinBoard (protocol version 2) loop. Unlike UCI it keeps the game: it records the moves,
// decides when the engine is on move, takes moves back and announces results.
#pragma once
#include "moves/move.h"

extern u8 ForceMode;           // the engine only records moves, it plays none of its own
extern u8 EngineColour;        // the side the engine plays when ForceMode is off (1 = White)
extern Move GameHistory[1024];  // moves made since the last "new"/"setboard", oldest first
extern u16 GameHistoryCount;

void XboardLoop();
