#include "frontend/console.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

FILE* LogFile = nullptr;

void OpenLogFile(const char* suffix) {
    char name[512];
    if (!ExecutableBaseName(name, sizeof name)) std::strcpy(name, "Vorna");
    char path[600];
    std::snprintf(path, sizeof path, "%s%s.log", name, suffix);
    LogFile = std::fopen(path, "w");
}

void LogInputLine(const char* line) {
    if (!LogFile) return;
    std::fputs("> ", LogFile);
    std::fputs(line, LogFile);
    std::fputc('\n', LogFile);
    std::fflush(LogFile);
}

int ReadCommandLine(char* buf, size_t cap) {
    for (;;) {
        int n = ReadInputLine(buf, cap);
        if (n < 0) return -1;
        if (n == 0) continue;
        LogInputLine(buf);
        return n;
    }
}

void WriteReply(const char* text, bool logged) {
    std::fputs(text, stdout);
    std::fflush(stdout);
    if (logged && LogFile) {
        std::fputs(text, LogFile);
        std::fflush(LogFile);
    }
}

char* NextToken(Tokenizer& t, const char* delimiters) {
    if (!t.cursor) return nullptr;
    char* p = t.cursor;
    while (*p && std::strchr(delimiters, *p)) ++p;
    if (!*p) {
        t.cursor = p;
        return nullptr;
    }
    char* start = p;
    while (*p && !std::strchr(delimiters, *p)) ++p;
    if (*p) *p++ = 0;
    t.cursor = p;
    return start;
}

long long ReadNumber(const char* token) {
    if (!token) return 0;
    return std::strtoll(token, nullptr, 10);
}

uint32_t ReadSeconds(const char* token) {
    double seconds = token ? std::strtod(token, nullptr) : 0.0;
    if (!(seconds > 0)) return 0;  // NaN fails the test too
    if (seconds >= 4e6) return 4000000000u;
    uint32_t ms = uint32_t(seconds * 1000);
    return ms ? ms : 1;
}
