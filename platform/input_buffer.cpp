// What every platform shares: the buffered standard-input reader (only the raw read and the
// non-blocking peek come from the platform file) and cutting a program path down to its name.
#include "platform/platform_raw.h"
#include "platform/platform.h"

namespace {
char Buffer[65536];
size_t Start = 0, End = 0;
bool Ended = false;
bool LineCut = false;

// Makes at least one byte available; false at the end of input.
bool Fill() {
    if (Start < End) return true;
    if (Ended) return false;
    Start = End = 0;
    long n = RawRead(Buffer, sizeof Buffer);
    if (n <= 0) {
        Ended = true;
        return false;
    }
    End = size_t(n);
    return true;
}
}  // namespace

int ReadInputLine(char* buf, size_t cap) {
    size_t len = 0;
    bool any = false;
    LineCut = false;
    for (;;) {
        if (!Fill()) break;
        any = true;
        char c = Buffer[Start++];
        if (c == '\n') break;
        if (len + 1 < cap)
            buf[len++] = c;
        else if (c != '\r')
            LineCut = true;
    }
    if (len > 0 && buf[len - 1] == '\r') --len;
    if (cap) buf[len] = 0;
    return any ? int(len) : -1;
}

int ReadInputWord(char* buf, size_t cap) {
    for (;;) {
        if (!Fill()) {
            if (cap) buf[0] = 0;
            return -1;
        }
        char c = Buffer[Start];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') break;
        ++Start;
    }
    size_t len = 0;
    while (Fill()) {
        char c = Buffer[Start];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') break;
        ++Start;
        if (len + 1 < cap) buf[len++] = c;
    }
    if (cap) buf[len] = 0;
    return int(len);
}

bool InputWaiting() {
    if (Start < End || Ended) return true;
    return RawInputWaiting();
}

bool InputEnded() { return Ended && Start >= End; }

void ResetInputReader() {
    Start = End = 0;
    Ended = false;
}

bool InputLineWasCut() { return LineCut; }

void CutToBaseName(const char* path, char* out, unsigned long cap) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    const char* end = name;
    while (*end) ++end;
    for (const char* p = name; *p; ++p)
        if (*p == '.') end = p;
    unsigned long len = (unsigned long)(end - name);
    if (len >= cap) len = cap - 1;
    for (unsigned long i = 0; i < len; ++i) out[i] = name[i];
    out[len] = 0;
}
