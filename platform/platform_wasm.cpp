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

namespace {
// A WebAssembly memory cannot ask for large pages, and the host's system backs it with 4 KiB pages on
// first touch: probed at random, the 128 MiB table takes its 32768 page faults (two each where a read
// comes before the first write) during the first searches of a game, and a fault in a browser's memory
// costs tens of microseconds on some machines. So the table handed to AdviseLargePages has its pages
// touched while the engine waits for a command, a slice at a time between looks at the input: time a
// page gives it while a person looks at the board, and no command waits for it. Each page's first byte
// is written back as it is read, since searches may have stored entries there already.
char* UntouchedFrom = nullptr;
char* UntouchedEnd = nullptr;
constexpr size_t PageBytes = 4096;
constexpr size_t SliceBytes = 64 * PageBytes;

void TouchSlice() {
    volatile char* page = UntouchedFrom;
    size_t bytes = size_t(UntouchedEnd - UntouchedFrom);
    if (bytes > SliceBytes) bytes = SliceBytes;
    for (size_t at = 0; at < bytes; at += PageBytes) page[at] = page[at];
    UntouchedFrom += bytes;
}
}  // namespace

void AdviseLargePages(void* start, size_t bytes) {
    UntouchedFrom = static_cast<char*>(start);
    UntouchedEnd = UntouchedFrom + bytes;
}

long RawRead(char* buf, unsigned long n) {
    while (UntouchedFrom < UntouchedEnd && !vorna_input_waiting()) TouchSlice();
    return vorna_input_read(buf, n);
}

bool RawInputWaiting() { return vorna_input_waiting() != 0; }

