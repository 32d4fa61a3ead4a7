#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_raw.h"

void PreparePlatform() {
    signal(SIGINT, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}

uint32_t TickCount() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

bool ExecutableBaseName(char* out, size_t cap) {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0 || cap == 0) return false;
    path[n] = 0;
    CutToBaseName(path, out, cap);
    return true;
}

long RawRead(char* buf, unsigned long n) {
    for (;;) {
        ssize_t r = read(0, buf, n);
        if (r < 0 && errno == EINTR) continue;
        return long(r);
    }
}

bool RawInputWaiting() {
    pollfd p{0, POLLIN, 0};
    int r = poll(&p, 1, 0);
    if (r < 0) return errno != EINTR;  // a failing test counts as input waiting
    return r > 0;                      // readable, hung up or in error: a read will not block
}

void AdviseLargePages(void* start, size_t bytes) {
#ifdef MADV_HUGEPAGE
    madvise(start, bytes, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}
