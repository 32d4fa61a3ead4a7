// The UCI loop on an arbitrary command stream (standard input from memory, searches bounded by the
// virtual clock and the input waits of memory_platform.cpp). The loop must return, never exit the
// process, and leave a consistent position behind.
#include "frontend/uci.h"
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
