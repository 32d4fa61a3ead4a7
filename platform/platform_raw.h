// Raw standard-input primitives each platform file provides for the shared buffered reader.
#pragma once

// Reads up to n bytes; returns the count, 0 at the end of input, negative on error.
long RawRead(char* buf, unsigned long n);
// True when a raw read would not block (data waiting, end of input, or the test cannot tell).
bool RawInputWaiting();

// Forgets everything the buffered reader holds, the end-of-input mark included, so that the next read
// starts on fresh raw input. For harnesses that run the protocol loops on one input after another.
void ResetInputReader();

// The file name of a path without directory (after the last '/' or '\\') and without extension (cut
// at the last dot), into out (at most cap - 1 characters and a terminating zero; cap > 0).
void CutToBaseName(const char* path, char* out, unsigned long cap);
