// Small helpers shared by the unit tests.
#pragma once
#include "board/attacks.h"
#include "board/board.h"

// Builds the tables and keys once per test binary.
inline void InitOnce() {
    static bool done = [] {
        InitTables();
        InitZobrist();
        return true;
    }();
    (void)done;
}

inline Bitboard Bit(int s) { return Bitboard(1) << s; }

// Square from its name, e.g. "e3".
inline int Sq(const char* name) { return ('8' - name[1]) * 8 + (name[0] - 'a'); }
