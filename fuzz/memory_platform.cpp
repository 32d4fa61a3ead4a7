// The platform layer of the fuzz build. The operating-system file is compiled with its input
// primitives, clock, program name and exit renamed out of the way; in their place:
// - standard input comes from the fuzz input in memory, one line per raw read;
// - "is input waiting?" answers no a few times before each line (and before the end of input), as if
//   the interface were slower than the search, within a budget per input so that no input can make
//   the searches long;
// - the clock is virtual: each reading advances it by 100 ms, so time limits end searches
//   deterministically;
// - the program is named vorna-fuzz, with the path of a scratch directory before the name, so that the
//   log lands there and not in the working directory;
// - ExitProgram throws ProgramExit, which the harness catches.
#define RawRead OsRawRead
#define RawInputWaiting OsRawInputWaiting
#define TickCount OsTickCount
#define ExecutableBaseName OsExecutableBaseName
#include "platform/platform_posix.cpp"
#undef RawRead
#undef RawInputWaiting
#undef TickCount
#undef ExecutableBaseName

#include <cstdio>

#include "fuzz/harness.h"
#include "platform/platform.h"
#include "platform/platform_raw.h"

namespace {
const uint8_t* InputData = nullptr;
size_t InputSize = 0, InputPos = 0;
uint32_t Clock = 0;
char LogPrefix[400] = "vorna-fuzz";
int Patience = 0;   // "nothing yet" answers still due before the next line
int WaitBudget = 0; // "nothing yet" answers left for the whole input
constexpr int WaitBudgetPerInput = 8;
}  // namespace

void FeedInput(const uint8_t* data, size_t size) {
    InputData = data;
    InputSize = size;
    InputPos = 0;
    Clock = 1000;
    Patience = 3;
    WaitBudget = WaitBudgetPerInput;
}

uint32_t TickCount() { return Clock += 100; }

void SetLogPrefix(const char* prefix) {
    std::snprintf(LogPrefix, sizeof LogPrefix, "%s", prefix);
}

bool ExecutableBaseName(char* out, size_t cap) {
    size_t len = std::strlen(LogPrefix);
    if (len >= cap) return false;
    std::memcpy(out, LogPrefix, len + 1);
    return true;
}

long RawRead(char* buf, unsigned long n) {
    size_t len = 0;
    while (len < n && InputPos < InputSize) {
        char c = char(InputData[InputPos++]);
        buf[len++] = c;
        if (c == '\n') break;
    }
    // The wait before the next line depends on this one, so the fuzzer steers it.
    Patience = int(len % 4);
    return long(len);
}

bool RawInputWaiting() {
    if (Patience > 0 && WaitBudget > 0) {
        --Patience;
        --WaitBudget;
        return false;
    }
    return true;
}

void ExitProgram(int status) { throw ProgramExit{status}; }
