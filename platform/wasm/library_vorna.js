// The host side of platform/platform_wasm.cpp, linked into every WebAssembly program (--js-library).
// Module.vornaInput is the input queue (input_queue.js) and Module.programPath the name the program
// goes by; a program given neither (the bench) reads the end of input at once and has no name.
mergeInto(LibraryManager.library, {
  vorna_input_read: function (buf, n) {
    var queue = Module['vornaInput'];
    return queue ? queue.read(HEAPU8, buf, n) : 0;
  },
  vorna_input_waiting: function () {
    var queue = Module['vornaInput'];
    return !queue || queue.waiting() ? 1 : 0;
  },
  vorna_program_path: function (out, cap) {
    var path = Module['programPath'];
    if (!path) return 0;
    stringToUTF8(path, out, cap);
    return 1;
  },
});
