// TextToMove on arbitrary text, with both sides to move in positions that hold every kind of move
// (castling both ways, en passant, promotions with and without capture, a king in check, no legal
// move). The result must be the first generated move whose text equals the input without regard to
// letter case, or NullMove when there is none, and the position must not change.
#include <string>

#include "board/fen.h"
#include "fuzz/harness.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/notation.h"

namespace {
const char* const Positions[] = {
    StartFen,
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq -",
    "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6",
    "rnbqkbnr/pppp1ppp/8/8/3Pp3/8/PPP1PPPP/RNBQKBNR b KQkq d3",
    "1r2k3/P1P5/8/8/8/8/p1p5/1R2K3 w - -",
    "1r2k3/P1P5/8/8/8/8/p1p5/1R2K3 b - -",
    "r3k2r/8/8/8/4Q3/8/8/R3K2R b KQkq -",
    "r3k2r/8/8/8/4q3/8/8/R3K2R w KQkq -",
    "7k/6Q1/6K1/8/8/8/8/8 b - -",  // mated
    "7k/8/6QK/8/8/8/8/8 b - -",    // stalemated
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

bool SameText(const char* rendered, const char* text) {
    size_t i = 0;
    for (; rendered[i] && text[i]; ++i)
        if (rendered[i] != Lower(text[i])) return false;
    return rendered[i] == 0 && text[i] == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InitEngineOnce();
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const char* fen : Positions) {
        Require(SetBoard(fen), "a test position is refused");
        Board.CurrentState->InCheck = SideToMoveInCheck();
        const Snapshot before = TakeSnapshot();
        const Move got = TextToMove(text.c_str());
        Require(SameBoard(before, TakeSnapshot()), "TextToMove changed the position");

        MoveList list;
        ClearMoveList(list);
        GenerateMoves(list);
        Move expected = NullMove;
        for (MoveSlot* slot = list.slots; slot < list.end; ++slot) {
            char rendered[6];
            MoveToText(slot->move, rendered);
            if (SameText(rendered, text.c_str())) {
                expected = slot->move;
                break;
            }
        }
        Require(got == expected, "TextToMove found another move than the first generated one with that text");
        if (got != NullMove) {
            Require(got.from != got.to, "TextToMove returned a move that is no move");
            char rendered[6];
            MoveToText(got, rendered);
            Require(SameText(rendered, text.c_str()), "the move found renders differently from the text");
        }
    }
    return 0;
}
