// The platform layer of the fuzz build. The operating-system file is compiled with its input
// primitives, clock, program name and exit renamed out of the way; in their place:
// - standard input comes from the fuzz input in memory, one line per raw read;
// - "is input waiting?" answers no a few times before each line (and before the end of input), as if
//   the interface were slower than the search;
// - the clock is virtual and runs with the search: every position made costs 10 ms, so a time limit
//   of t ms allows about t / 10 positions, and the searches of an input end after a few hundred
//   positions, deterministically, by the same limits and input that end them in play;
// - each input has a budget of positions. Once it is spent, the running search is brought to its end
//   at the next opportunity through the engine's own poll: the clock jumps to the search's hard limit,
//   or, for a search without one, the next line of input is reported waiting; and the depth limit is
//   set to 0, so that no further iteration starts and the input's later searches return their first
//   legal move unsearched (a depth limit given by "sd" is thus lost for the rest of the input). A clock
//   reading that finds the search past its hard limit or the budget makes the next node poll instead
//   of waiting for the 1024 positions between polls. Nothing else of the engine changes: every
//   command, limit, reply, log line, search set-up and unwinding still runs;
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
#include "moves/makemove.h"
#include "platform/platform.h"
#include "platform/platform_raw.h"
#include "search/limits.h"
#include "search/poll.h"

namespace {
const uint8_t* InputData = nullptr;
size_t InputSize = 0, InputPos = 0;
uint32_t Clock = 0;
char LogPrefix[400] = "vorna-fuzz";
int Patience = 0;    // "nothing yet" answers still due before the next line
int WaitBudget = 0;  // "nothing yet" answers left for the whole input
constexpr int WaitBudgetPerInput = 8;
constexpr uint32_t MsPerPosition = 10;
constexpr u64 PositionBudgetPerInput = 150;
u64 PositionsSeen = 0;  // NodeCount at the last look
u64 Positions = 0;      // positions made since the input started

// Adds the positions made since the last look. The search driver sets NodeCount back to 0 at the
// start of each search; a smaller count than last time is therefore all new.
void CountPositions() {
    const u64 now = NodeCount;
    Positions += now >= PositionsSeen ? now - PositionsSeen : now;
    PositionsSeen = now;
}

bool BudgetSpent() { return Positions >= PositionBudgetPerInput; }
}  // namespace

void FeedInput(const uint8_t* data, size_t size) {
    InputData = data;
    InputSize = size;
    InputPos = 0;
    Clock = 1000;
    Patience = 3;
    WaitBudget = WaitBudgetPerInput;
    PositionsSeen = Positions = 0;
}

uint32_t TickCount() {
    const u64 before = Positions;
    CountPositions();
    Clock += 1 + uint32_t(Positions - before) * MsPerPosition;
    const SearchLimitsData& l = SearchLimits;
    uint32_t elapsed = Clock - l.StartTime;
    if (BudgetSpent() && l.HardLimit && elapsed < l.HardLimit) {
        Clock = l.StartTime + l.HardLimit;
        elapsed = l.HardLimit;
    }
    // Past the hard limit, or past the budget: the next node polls, and the poll ends the search.
    if (BudgetSpent() || (l.HardLimit && elapsed >= l.HardLimit)) NextPollNodes = NodeCount;
    // Past the budget, no new iteration starts; a search that starts now (the clock is read first
    // thing) returns its first legal move unsearched.
    if (BudgetSpent()) SearchLimits.MaxDepth = 0;
    return Clock;
}

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
    CountPositions();
    // With the budget spent, a search with a hard limit ends by the clock; one without (no clock,
    // "go infinite", analysis) only by its depth or by input, so the next line is there at once.
    if (BudgetSpent()) return SearchLimits.HardLimit == 0 || InputPos >= InputSize;
    if (Patience > 0 && WaitBudget > 0) {
        --Patience;
        --WaitBudget;
        return false;
    }
    return true;
}

void ExitProgram(int status) { throw ProgramExit{status}; }
