// The UCI loop on an arbitrary command stream (standard input from memory, searches bounded by the
// virtual clock and the position budget of memory_platform.cpp; inputs mutated line by line). The loop
// must return, never exit the process, and leave a consistent position behind.
#include "frontend/uci.h"
#include "fuzz/command_lines.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StartInput(data, size);
    try {
        UciLoop();
    } catch (const ProgramExit&) {
        Fail("the UCI loop ended the process");
    }
    CheckBoard();
    Require(StateIndex() < 1000, "the UCI loop left the state stack nearly full");
    EndInput();
    return 0;
}

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed) {
    return MutateCommandLines(Protocol::Uci, data, size, maxSize, seed);
}

extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* a, size_t sizeA, const uint8_t* b, size_t sizeB,
                                            uint8_t* out, size_t maxOut, unsigned seed) {
    return CrossOverCommandLines(a, sizeA, b, sizeB, out, maxOut, seed);
}
