#include "moves/notation.h"

#include "board/board.h"
#include "moves/movegen.h"

void MoveToText(Move m, char* out) {
    out[0] = char('a' + (m.from & 7));
    out[1] = char('8' - (m.from >> 3));
    out[2] = char('a' + (m.to & 7));
    out[3] = char('8' - (m.to >> 3));
    int n = 4;
    if (m.kind & 15) out[n++] = char(PieceLetters[m.kind & 15] | 0x20);
    out[n] = 0;
}

namespace {
char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }
}

Move TextToMove(const char* text) {
    // A move text has four or five characters; anything longer matches nothing. Reading stops at the
    // text's terminating zero.
    int len = 0;
    while (len < 6 && text[len]) ++len;
    if (len < 4 || len > 5) return NullMove;
    char wanted[6];
    for (int i = 0; i < len; ++i) wanted[i] = Lower(text[i]);
    wanted[len] = 0;

    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    for (MoveSlot* slot = list.slots; slot < list.end; ++slot) {
        char rendered[6];
        MoveToText(slot->move, rendered);
        int i = 0;
        while (rendered[i] && rendered[i] == wanted[i]) ++i;
        if (rendered[i] == wanted[i]) return slot->move;
    }
    return NullMove;
}
