// SetBoard on arbitrary text. A refused text must leave the position exactly as it was; an accepted
// one must give a consistent, playable position on which every move makes and unmakes cleanly (see
// CheckEveryMove), perft to depth 2 agrees with a count made move by move, the colour-flipped twin has
// the same counts, and the position written back as FEN sets up the same position.
#include <string>

#include "board/fen.h"
#include "fuzz/harness.h"
#include "moves/makemove.h"
#include "moves/movegen.h"
#include "moves/perft.h"

namespace {
u64 PerftOf(u8 depth) {
    PerftCount = 0;
    Perft(depth);
    return PerftCount;
}

// Depth 2 counted with the plain make, one root move at a time.
u64 CountTwoPlies() {
    Board.CurrentState->InCheck = SideToMoveInCheck();
    MoveList list;
    ClearMoveList(list);
    GenerateMoves(list);
    u64 total = 0;
    for (MoveSlot* slot = list.slots; slot < list.end; ++slot) {
        if (!MakeMove(slot->move)) continue;
        Board.CurrentState->InCheck = SideToMoveInCheck();
        MoveList replies;
        ClearMoveList(replies);
        GenerateMoves(replies);
        for (MoveSlot* r = replies.slots; r < replies.end; ++r) {
            if (!MakeMove(r->move)) continue;
            ++total;
            UnmakeMove(r->move);
        }
        UnmakeMove(slot->move);
    }
    return total;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InitEngineOnce();
    // A position that differs from every accepted one in most respects, so that a refusal that
    // changes anything shows.
    Require(SetBoard("r3k2r/8/8/3pP3/8/8/8/R3K2R w KQkq d6 0 1"), "the reference position is refused");
    const std::string text(reinterpret_cast<const char*>(data), size);  // cut at the first NUL
    const Snapshot before = TakeSnapshot();
    if (!SetBoard(text.c_str())) {
        Require(SameBoard(before, TakeSnapshot()), "a refused text changed the position");
        Require(SetBoardError && SetBoardError[0], "a refusal without a reason");
        return 0;
    }
    Require(Board.CurrentState == Board.StateStack, "SetBoard did not start a fresh state stack");
    Require(Board.CurrentState->Reversible == 0, "the first record is marked reversible");
    Require(Board.CurrentState->InCheck == SideToMoveInCheck(), "SetBoard stored a wrong check flag");
    CheckBoard();
    const Snapshot accepted = TakeSnapshot();

    int legal = CheckEveryMove();
    Require(PerftOf(1) == u64(legal), "perft 1 differs from the number of legal moves");
    const u64 two = PerftOf(2);
    Require(two == CountTwoPlies(), "perft 2 differs from the count made move by move");
    Require(SameBoard(accepted, TakeSnapshot()), "perft changed the position");

    // The colour-flipped twin.
    FlipColours();
    ComputeHashKey();
    CheckBoard();
    Require(PerftOf(1) == u64(legal) && PerftOf(2) == two, "the colour-flipped position counts differently");
    FlipColours();
    ComputeHashKey();
    Require(SameBoard(accepted, TakeSnapshot()), "flipping twice did not restore the position");

    // Written back as FEN, the position reads the same.
    char fen[100];
    BoardToFen(fen);
    Require(SetBoard(fen), "the position written back as FEN is refused");
    Require(SameBoard(accepted, TakeSnapshot()), "the position written back as FEN reads differently");
    return 0;
}
