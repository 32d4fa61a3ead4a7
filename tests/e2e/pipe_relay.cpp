// Test helper for the Windows programs: starts a program the way a Windows chess interface does, with
// its standard input and output on anonymous Windows pipes, and relays this process's own standard
// input to it and its output back. Under Wine a program started straight from a Linux pipe sees a
// pipe that cannot be peeked, so its input polling falls back to blocking reads; behind this relay it
// polls a real Windows pipe.
//
// Usage: vorna-pipe-relay PROGRAM.exe   (exit status: the program's, or 2 when it cannot be started)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {
HANDLE OwnInput, OwnOutput, ChildInput, ChildOutput;

// Copies this process's standard input to the program until the input ends, then closes the program's
// input so that it sees the end too.
DWORD WINAPI ForwardInput(void*) {
    char buf[4096];
    DWORD got, put;
    while (ReadFile(OwnInput, buf, sizeof buf, &got, nullptr) && got > 0)
        if (!WriteFile(ChildInput, buf, got, &put, nullptr)) break;
    CloseHandle(ChildInput);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vorna-pipe-relay PROGRAM.exe\n");
        return 2;
    }
    OwnInput = GetStdHandle(STD_INPUT_HANDLE);
    OwnOutput = GetStdHandle(STD_OUTPUT_HANDLE);

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE programInput, programOutput;
    if (!CreatePipe(&programInput, &ChildInput, &inherit, 0) || !CreatePipe(&ChildOutput, &programOutput, &inherit, 0)) {
        std::fprintf(stderr, "vorna-pipe-relay: CreatePipe failed (%lu)\n", GetLastError());
        return 2;
    }
    // Only the program's ends are inherited; ours stay here, so each side sees the other close.
    SetHandleInformation(ChildInput, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(ChildOutput, HANDLE_FLAG_INHERIT, 0);

    // The program ends with this relay: a job that kills its processes when its last handle closes.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
        std::memset(&limits, 0, sizeof limits);
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    char commandLine[1024];
    std::snprintf(commandLine, sizeof commandLine, "\"%s\"", argv[1]);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = programInput;
    startup.hStdOutput = programOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(argv[1], commandLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "vorna-pipe-relay: cannot start %s (%lu)\n", argv[1], GetLastError());
        return 2;
    }
    if (job) AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    CloseHandle(programInput);
    CloseHandle(programOutput);

    HANDLE forward = CreateThread(nullptr, 0, ForwardInput, nullptr, 0, nullptr);
    if (!forward) {
        std::fprintf(stderr, "vorna-pipe-relay: CreateThread failed (%lu)\n", GetLastError());
        TerminateProcess(process.hProcess, 2);
        return 2;
    }

    char buf[4096];
    DWORD got, put;
    while (ReadFile(ChildOutput, buf, sizeof buf, &got, nullptr) && got > 0)
        if (!WriteFile(OwnOutput, buf, got, &put, nullptr)) break;

    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 2;
    GetExitCodeProcess(process.hProcess, &status);
    return int(status);
}
