// The Node console program (build-web/vorna.js): `node vorna.js` reads standard input and writes standard
// output like the native program. Its main thread copies standard input into the engine's input queue;
// the engine runs in a worker thread, as it does in a browser, and writes standard output and its log
// file itself (Node's file system). The program ends with the engine's exit status.
(function () {
  var threads = require('worker_threads');
  if (!threads.isMainThread) {
    var data = threads.workerData;
    VornaNode({
      vornaInput: new VornaInputQueue(data.input),
      programPath: data.programPath,
      thisProgram: data.programPath,
      arguments: [],
    });
    return;
  }
  var queue = VornaInputQueue.create();
  var engine = new threads.Worker(__filename, {
    workerData: { input: queue.buffer, programPath: process.argv[1] || 'vorna' },
  });
  engine.on('error', function (error) {
    console.error('vorna: ' + (error && error.stack || error));
    process.exit(1);
  });
  engine.on('exit', function (status) { process.exit(status); });
  // xboard interrupts its engines with SIGINT before every move unless told otherwise: like the native
  // program, this one goes on (it reads its input during a search instead).
  process.on('SIGINT', function () {});
  process.stdin.on('data', function (bytes) { queue.write(bytes); });
  process.stdin.on('end', function () { queue.close(); });
  process.stdin.on('error', function () { queue.close(); });
})();
