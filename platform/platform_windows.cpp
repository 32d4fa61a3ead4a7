// Windows: the tick from GetTickCount, the program's name from GetModuleFileNameA, and standard input
// read with ReadFile. Whether a read would block is asked of the console (the C runtime's key-hit
// test) or of the pipe (the number of bytes waiting in it). A pipe that cannot be peeked (a Linux pipe
// handed to the program under Wine) is read by a small reader thread instead, whose buffer the test
// looks at.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <conio.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/platform_raw.h"

namespace {
// Standard input, looked up once: its handle, whether it is a console, and whether it is a pipe that
// the reader thread reads.
HANDLE InputHandle = nullptr;
bool InputIsConsole = false;
bool InputByThread = false;
bool InputKnown = false;

// The reader thread's hand-over: it makes the blocking reads into Chunk, one at a time, and waits
// until the engine's thread has taken all of it. The engine's thread never waits for it except in a
// read that would block anyway.
CRITICAL_SECTION ChunkLock;
CONDITION_VARIABLE ChunkChanged;
char Chunk[4096];
DWORD ChunkEnd = 0, ChunkTaken = 0;  // Chunk[ChunkTaken .. ChunkEnd) is not yet taken
bool ChunkEnded = false;              // the pipe has ended (or failed): no more chunks

DWORD WINAPI ReadPipeChunks(void*) {
    for (;;) {
        EnterCriticalSection(&ChunkLock);
        while (ChunkTaken < ChunkEnd) SleepConditionVariableCS(&ChunkChanged, &ChunkLock, INFINITE);
        LeaveCriticalSection(&ChunkLock);
        DWORD got = 0;
        bool ok = ReadFile(InputHandle, Chunk, sizeof Chunk, &got, nullptr) && got > 0;
        EnterCriticalSection(&ChunkLock);
        ChunkTaken = 0;
        ChunkEnd = ok ? got : 0;
        ChunkEnded = !ok;
        WakeAllConditionVariable(&ChunkChanged);
        LeaveCriticalSection(&ChunkLock);
        if (!ok) return 0;
    }
}

// A pipe whose peek fails for another reason than its writer having gone is one the system cannot
// peek: a search would take it for waiting input and block in a read there.
bool UnpeekablePipe(HANDLE h) {
    if (GetFileType(h) != FILE_TYPE_PIPE) return false;
    DWORD waiting = 0;
    return !PeekNamedPipe(h, nullptr, 0, nullptr, &waiting, nullptr) && GetLastError() != ERROR_BROKEN_PIPE;
}

void LookUpInput() {
    if (InputKnown) return;
    InputHandle = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode;
    bool valid = InputHandle && InputHandle != INVALID_HANDLE_VALUE;
    InputIsConsole = valid && GetConsoleMode(InputHandle, &mode);
    if (valid && !InputIsConsole && UnpeekablePipe(InputHandle)) {
        InitializeCriticalSection(&ChunkLock);
        InitializeConditionVariable(&ChunkChanged);
        HANDLE thread = CreateThread(nullptr, 64 * 1024, ReadPipeChunks, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                     nullptr);
        InputByThread = thread != nullptr;  // without a thread, reads stay direct
        if (thread) CloseHandle(thread);
    }
    InputKnown = true;
}

long TakeChunk(char* buf, unsigned long n) {
    EnterCriticalSection(&ChunkLock);
    while (ChunkTaken == ChunkEnd && !ChunkEnded) SleepConditionVariableCS(&ChunkChanged, &ChunkLock, INFINITE);
    DWORD k = ChunkEnd - ChunkTaken;
    if (k > n) k = DWORD(n);
    std::memcpy(buf, Chunk + ChunkTaken, k);
    ChunkTaken += k;
    if (ChunkTaken == ChunkEnd) WakeAllConditionVariable(&ChunkChanged);
    LeaveCriticalSection(&ChunkLock);
    return long(k);  // 0 only at the end of the pipe
}

bool ChunkWaiting() {
    EnterCriticalSection(&ChunkLock);
    bool waiting = ChunkTaken < ChunkEnd || ChunkEnded;
    LeaveCriticalSection(&ChunkLock);
    return waiting;
}
}  // namespace

// Ctrl+C is ignored, as the Linux program ignores SIGINT: a Linux interface such as xboard interrupts
// its engine before every move, and Wine hands that signal to a Windows program as Ctrl+C, whose
// default handler ends the process. (Ctrl+Break still ends it; a write to a pipe whose reader has
// gone fails with an error instead of ending the process.)
void PreparePlatform() { SetConsoleCtrlHandler(nullptr, TRUE); }

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
    if (InputByThread) return TakeChunk(buf, n);
    // A console read goes through a small shared buffer of the console host: ask it for one line's worth.
    if (InputIsConsole && n > 4096) n = 4096;
    DWORD got = 0;
    if (!ReadFile(InputHandle, buf, DWORD(n), &got, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // the writer has closed its end
    return long(got);
}

bool RawInputWaiting() {
    LookUpInput();
    if (InputByThread) return ChunkWaiting();
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
