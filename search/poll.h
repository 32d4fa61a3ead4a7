// Keeping the single-threaded engine responsive while it searches: every 1024 made positions the
// search looks at standard input without blocking and acts on what has arrived.
#pragma once
#include "board/types.h"
#include "moves/makemove.h"
#include "search/limits.h"

// NodeCount value from which the next poll looks at the input.
extern u64 NextPollNodes;

// An xboard command line read during a search, for the xboard loop to process next (empty = none).
extern char PendingCommand[128];

// Set when "quit" arrives during a UCI search, and when the input has ended during any search: the
// protocol loop finishes its reply and then ends the program.
extern u8 QuitRequested;

// Set by benchmarks and tests that search without an interface: the poll then only checks the clock.
extern u8 IgnoreInput;

// True when the running search must stop. May end the process ("quit" during an xboard game search).
bool PollInput();

// PollInput's own first tests, made by the search at every node without a call: false while the
// search may go on without polling.
inline bool PollInputDue() { return StopSearch || NodeCount >= NextPollNodes; }

// True when a read from standard input would find something (or the test cannot tell).
bool InputAvailable();
