// The xboard loop on an arbitrary command stream (standard input from memory, searches bounded by the
// virtual clock and the position budget of memory_platform.cpp; inputs mutated line by line). "quit"
// during a search ends the run through ExitProgram; otherwise the loop must return and leave a
// consistent game behind: the recorded moves are exactly the records on the state stack, and taking
// them all back leads to a consistent position with the key of the bottom record.
#include "frontend/xboard.h"
#include "fuzz/command_lines.h"
#include "fuzz/harness.h"
#include "moves/makemove.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StartInput(data, size);
    try {
        XboardLoop();
    } catch (const ProgramExit& e) {
        Require(e.status == 0, "quit ended the process with a status other than 0");
        EndInput();
        return 0;  // from inside a search: the position is the search's, not the game's
    }
    CheckBoard();
    Require(GameHistoryCount == StateIndex(), "the game record and the state stack differ in length");
    while (GameHistoryCount > 0) {
        --GameHistoryCount;
        UnmakeMove(GameHistory[GameHistoryCount]);
        CheckBoard();
    }
    Require(Board.CurrentState == Board.StateStack, "taking every move back did not reach the bottom record");
    EndInput();
    return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed) {
    return MutateCommandLines(Protocol::Xboard, data, size, maxSize, seed);
}

extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* a, size_t sizeA, const uint8_t* b, size_t sizeB,
                                            uint8_t* out, size_t maxOut, unsigned seed) {
    return CrossOverCommandLines(a, sizeA, b, sizeB, out, maxOut, seed);
}
