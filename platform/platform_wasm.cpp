// WebAssembly (Emscripten): the tick from the host's monotonic clock, and standard input as a byte queue
// in shared memory that the host fills (platform/wasm/input_queue.js). The engine runs in a worker of its
// own - a Web Worker in a browser, a worker thread under Node - so a read may block: it waits on the
// queue. Whether a read would block is one look at the queue's two counters.
#include <emscripten.h>

#include "platform/platform.h"
#include "platform/platform_raw.h"

// The host side, in platform/wasm/library_vorna.js.
extern "C" {
long vorna_input_read(char* buf, unsigned long n);
int vorna_input_waiting();
int vorna_program_path(char* out, unsigned long cap);
}

// Nothing to set up: no signals reach a worker.
void PreparePlatform() {}

uint32_t TickCount() { return uint32_t(uint64_t(emscripten_get_now())); }

// The name the host gives the program: the script's path under Node.
bool ExecutableBaseName(char* out, size_t cap) {
    char path[4096];
    if (cap == 0 || !vorna_program_path(path, sizeof path)) return false;
    CutToBaseName(path, out, cap);
    return true;
}

long RawRead(char* buf, unsigned long n) { return vorna_input_read(buf, n); }

bool RawInputWaiting() { return vorna_input_waiting() != 0; }

// A WebAssembly memory cannot ask for large pages, and the host's system backs it with 4 KiB pages
// on first touch: probed at random, the 128 MiB table would take its 32768 page faults (two each where a
// read comes before the first write) during the first searches of a game. One write to every page
// takes them here, at start-up, before the engine answers its first command.
void AdviseLargePages(void* start, size_t bytes) {
    volatile char* page = static_cast<volatile char*>(start);
    for (size_t at = 0; at < bytes; at += 4096) page[at] = 0;
}
