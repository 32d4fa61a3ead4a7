// The only place that touches the operating system: a millisecond tick, the program's own file name,
// and standard input read through one buffered reader that can also tell, without blocking, whether a
// read would find something (buffered text, waiting input or the end of input).
#pragma once
#include <cstddef>
#include <cstdint>

// Called once at start-up. xboard interrupts its engines with SIGINT before every move unless told
// otherwise; the engine ignores it (it polls its input instead), and it ignores SIGPIPE so that a GUI
// that has gone away cannot kill it in the middle of a write.
void PreparePlatform();

// Monotonic milliseconds, wrapping in 32 bits; elapsed times are unsigned 32-bit differences.
uint32_t TickCount();

// File name of the running executable without directory and extension (both '/' and '\' count as
// separators). Writes at most cap - 1 characters and a terminating zero; false when unknown.
bool ExecutableBaseName(char* out, size_t cap);

// Reads one line from standard input into buf (at most cap - 1 characters, newline and a trailing
// carriage return removed, always zero-terminated); the rest of an over-long line is read and
// discarded. Returns the length, or -1 at the end of input when nothing was read.
int ReadInputLine(char* buf, size_t cap);

// True when the last line ReadInputLine returned was cut to fit its buffer.
bool InputLineWasCut();

// Skips white space (blanks, tabs, line ends) and reads one word, leaving the rest of its line unread.
// Returns the length (a longer word is cut, its rest discarded), or -1 at the end of input.
int ReadInputWord(char* buf, size_t cap);

// True when a read would not block: text is buffered, input is waiting, or the input has ended (or the
// test cannot tell).
bool InputWaiting();

// True once a read has met the end of input.
bool InputEnded();

// Alignment for a table handed to AdviseLargePages: one large page where the system has them
// (Windows object files cannot align beyond 8 KiB, and the hint is a no-op there).
#ifdef _WIN32
inline constexpr size_t LargePageAlignment = 4096;
#else
inline constexpr size_t LargePageAlignment = size_t(1) << 21;
#endif

// Asks the system to back a large, rarely-touched table with large pages (fewer TLB misses when it is
// probed at random). Touches nothing now; a no-op where the system offers no such hint. WebAssembly has
// no such hint: there the table's pages are touched while the engine waits for input (platform_wasm.cpp).
void AdviseLargePages(void* start, size_t bytes);

// Ends the process at once with the given status through the normal exit path (open streams are
// flushed and closed). Harnesses that run the protocol loops in-process link their own in its place.
[[noreturn]] void ExitProgram(int status);
