// How protocol lines travel: command lines read from standard input (empty ones skipped, every other
// one copied to the log first), replies written to standard output and flushed at once, and the log.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// The protocol log: every line read and most lines written. Null until a protocol loop opens it, and
// when it cannot be created; writes to it are then silently skipped.
extern FILE* LogFile;

// Opens "<executable name without directory and extension><suffix>.log" in the working directory,
// replacing an older file of that name.
void OpenLogFile(const char* suffix);

// Reads the next non-empty command line and logs it as "> " + line. Returns its length, or -1 at the
// end of input. Lines longer than cap - 1 characters are cut; the rest is discarded.
int ReadCommandLine(char* buf, size_t cap);

// Writes "> " + line to the log.
void LogInputLine(const char* line);

// Writes text to standard output and flushes it; then, for logged replies, to the log.
void WriteReply(const char* text, bool logged);

// In-place tokenizer: each request skips delimiters, returns the text up to the next delimiter (which
// it overwrites with a zero) and carries on after it. An empty delimiter set returns the rest of the line.
struct Tokenizer {
    char* cursor;
};
char* NextToken(Tokenizer& t, const char* delimiters);

// A decimal integer at the start of a token (leading white space and a sign allowed); 0 when the token
// is missing or does not start with a number. Saturates instead of overflowing.
long long ReadNumber(const char* token);

// A number of seconds that may have a fractional part ("st 0.5", the increment of "level 40 5 2.5"), as
// whole milliseconds: 0 for none (a missing token, no number, zero or less), the longest time the clock
// holds (4e9 ms, about 46 days) from 4e6 s up, and at least 1 for any positive time, so that a tiny
// one never reads as none.
uint32_t ReadSeconds(const char* token);
