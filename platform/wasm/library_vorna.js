// The host side of platform/platform_wasm.cpp, linked into every WebAssembly program (--js-library).
// Module.vornaInput is the engine's input, Module.programPath the name the program goes by; a program
// given neither (the bench) reads the end of input at once and has no name.
//
// Two inputs, one per build: the shared-memory queue (input_queue.js), which the engine reads and waits
// on in place, and, in the build made with Asyncify, the message input (message_input.js), for which a
// read may sleep and a look at the input may give the event loop a turn: both calls then go through
// Asyncify.handleSleep, which pauses the engine until wakeUp(value).
mergeInto(LibraryManager.library, {
#if ASYNCIFY
  vorna_input_read__deps: ['$Asyncify'],
  vorna_input_read: function (buf, n) {
    var input = Module['vornaInput'];
    if (!input) return 0;
    return Asyncify.handleSleep(function (wakeUp) { input.read(HEAPU8, buf, n, wakeUp); });
  },
  vorna_input_waiting__deps: ['$Asyncify'],
  vorna_input_waiting: function () {
    var input = Module['vornaInput'];
    if (!input) return 1;
    return Asyncify.handleSleep(function (wakeUp) { input.poll(wakeUp); });
  },
#else
  vorna_input_read: function (buf, n) {
    var queue = Module['vornaInput'];
    return queue ? queue.read(HEAPU8, buf, n) : 0;
  },
  vorna_input_waiting: function () {
    var queue = Module['vornaInput'];
    return !queue || queue.waiting() ? 1 : 0;
  },
#endif
  vorna_program_path: function (out, cap) {
    var path = Module['programPath'];
    if (!path) return 0;
    stringToUTF8(path, out, cap);
    return 1;
  },
});
