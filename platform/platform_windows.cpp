// Windows: the tick from GetTickCount, the program's name from GetModuleFileNameA, and standard input
// read with ReadFile. Whether a read would block is asked of the console (the C runtime's key-hit
// test) or of the pipe (the number of bytes waiting in it).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <conio.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/platform_raw.h"

namespace {
// Standard input, looked up once: its handle and whether it is a console.
HANDLE InputHandle = nullptr;
bool InputIsConsole = false;
bool InputKnown = false;

void LookUpInput() {
    if (InputKnown) return;
    InputHandle = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    InputIsConsole = InputHandle && InputHandle != INVALID_HANDLE_VALUE && GetConsoleMode(InputHandle, &mode);
    InputKnown = true;
}
}  // namespace

// Nothing to set up: Windows interfaces do not interrupt their engines, and a write to a pipe whose
// reader has gone fails with an error instead of ending the process.
void PreparePlatform() {}

uint32_t TickCount() { return uint32_t(GetTickCount()); }

bool ExecutableBaseName(char* out, size_t cap) {
    char path[4096];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    // 0 is a failure; a full buffer means the path was cut (and may lack its terminating zero).
    if (n == 0 || n >= sizeof path || cap == 0) return false;
    path[n] = 0;
    CutToBaseName(path, out, cap);
    return true;
}

long RawRead(char* buf, unsigned long n) {
    LookUpInput();
    // A console read goes through a small shared buffer of the console host: ask it for one line's worth.
    if (InputIsConsole && n > 4096) n = 4096;
    DWORD got = 0;
    if (!ReadFile(InputHandle, buf, DWORD(n), &got, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // the writer has closed its end
    return long(got);
}

bool RawInputWaiting() {
    LookUpInput();
    if (InputIsConsole) return _kbhit() != 0;
    DWORD waiting = 0;
    // Fails on a file or a closed pipe: then a read does not block either, and finds the data or the end.
    if (!PeekNamedPipe(InputHandle, nullptr, 0, nullptr, &waiting, nullptr)) return true;
    return waiting > 0;
}

void AdviseLargePages(void* start, size_t bytes) {
    // Large pages on Windows need a privilege and an allocation of their own; the table stays as it is.
    (void)start;
    (void)bytes;
}
