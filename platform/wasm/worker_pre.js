// The engine in a Web Worker (build-web/vorna-worker.js, vorna-worker-messages.js): standard output goes
// to the page one line at a time, as {line} messages without the newline; {ready: true, buffer} says that
// the engine has started (buffer: the shared-memory input queue, or null where the input comes as
// {input} messages); {exit: status} follows when the program has ended, {error: text} when it has
// failed (its WebAssembly did not load, it could not get its memory, it crashed). The input itself is
// set up by worker_shared_memory.js or worker_messages.js, linked before this.
//
// The log would live in the worker's memory, where nothing can read it, and grow with every game and
// analysis for as long as the page stays open: its two names lead to /dev/null instead.
Module['programPath'] = 'vorna';
Module['thisProgram'] = 'vorna';
Module['preRun'] = [function () {
  FS.symlink('/dev/null', 'vorna_uci.log');
  FS.symlink('/dev/null', 'vorna_wb.log');
  var input = Module['vornaInput'];
  postMessage({ ready: true, buffer: input.buffer || null });
}];
Module['onExit'] = function (status) { postMessage({ exit: status }); };
Module['onAbort'] = function (what) { postMessage({ error: String(what) }); };
addEventListener('unhandledrejection', function (event) { postMessage({ error: String(event.reason) }); });
(function () {
  var decoder = new TextDecoder();
  function lineWriter(deliver) {
    var bytes = [];
    return function (byte) {
      if (byte === null || byte === undefined) return;
      if (byte !== 10) {
        bytes.push(byte);
        return;
      }
      deliver(decoder.decode(new Uint8Array(bytes)));
      bytes = [];
    };
  }
  Module['stdout'] = lineWriter(function (line) { postMessage({ line: line }); });
  Module['stderr'] = lineWriter(function (line) { console.error(line); });
})();
