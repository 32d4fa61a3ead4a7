// The Node console program (build-web/vorna.js): `node vorna.js` reads standard input and writes standard
// output like the native program. Its main thread hands standard input to the engine, which runs in a
// worker thread, as it does in a browser, and writes standard output and its log file itself (Node's file
// system). The program ends with the engine's exit status.
//
// The input goes the way it goes on a cross-origin isolated page, through a queue in shared memory
// (VornaNode). VORNA_WASM_INPUT=messages sends it the way it goes on any other page instead, as messages
// to the worker, read by the engine's build made for that (VornaNodeMessages): so that every test of the
// Node program can run on both.
(function () {
  var threads = require('worker_threads');
  if (!threads.isMainThread) {
    var data = threads.workerData;
    var input;
    if (data.input) {
      input = new VornaInputQueue(data.input);
    } else {
      input = new VornaMessageInput();
      threads.parentPort.on('message', function (bytes) {
        if (bytes === null) input.close();
        else input.push(bytes);
      });
    }
    (data.input ? VornaNode : VornaNodeMessages)({
      vornaInput: input,
      programPath: data.programPath,
      thisProgram: data.programPath,
      arguments: [],
    });
    return;
  }
  var messages = process.env.VORNA_WASM_INPUT === 'messages';
  var queue = messages ? null : VornaInputQueue.create();
  var engine = new threads.Worker(__filename, {
    workerData: { input: queue && queue.buffer, programPath: process.argv[1] || 'vorna' },
  });
  engine.on('error', function (error) {
    console.error('vorna: ' + (error && error.stack || error));
    process.exit(1);
  });
  engine.on('exit', function (status) { process.exit(status); });
  // xboard interrupts its engines with SIGINT before every move unless told otherwise: like the native
  // program, this one goes on (it reads its input during a search instead).
  process.on('SIGINT', function () {});
  var write = queue ? function (bytes) { queue.write(bytes); } : function (bytes) { engine.postMessage(bytes); };
  var close = queue ? function () { queue.close(); } : function () { engine.postMessage(null); };
  process.stdin.on('data', write);
  process.stdin.on('end', close);
  process.stdin.on('error', close);
})();
