// The engine in a browser's Web Worker (build-web/vorna-worker.js): standard output goes to the page one
// line at a time, as {line} messages without the newline; standard input is a queue in shared memory
// (input_queue.js) that the worker makes and hands to the page in its first message, {ready: buffer},
// before the engine starts; {exit: status} follows when the program has ended. The log file lives in
// the worker's memory only.
Module['vornaInput'] = VornaInputQueue.create();
Module['programPath'] = 'vorna';
Module['thisProgram'] = 'vorna';
Module['preRun'] = [function () { postMessage({ ready: Module['vornaInput'].buffer }); }];
Module['onExit'] = function (status) { postMessage({ exit: status }); };
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
