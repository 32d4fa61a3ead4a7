// The npm package under Node: runs one of the browser's worker files (vorna-worker.js or
// vorna-worker-messages.js, named by workerData.file) in a worker thread, as a browser runs it in a Web
// Worker. The files are built for a browser's worker only; what they use of a worker's global scope is
// here: self.location, postMessage and onmessage (over the thread's parentPort), and the event of an
// unhandled rejection. An exception that nothing catches becomes an {error} message, as a Web Worker's
// error event reaches the page in order with the messages before it; the one that ends the program on
// exit (ExitStatus) follows its {exit} message and means nothing more.
'use strict';
const { parentPort, workerData } = require('node:worker_threads');
const fs = require('node:fs');
const vm = require('node:vm');
const { pathToFileURL } = require('node:url');

globalThis.self = globalThis;
globalThis.location = { href: pathToFileURL(workerData.file).href };
globalThis.postMessage = (message) => parentPort.postMessage(message);
let handler = null;
Object.defineProperty(globalThis, 'onmessage', {
  configurable: true,
  get: () => handler,
  set: (f) => { handler = f; },
});
parentPort.on('message', (data) => { if (handler) handler({ data }); });
globalThis.addEventListener = (type, listener) => {
  if (type === 'unhandledrejection') process.on('unhandledRejection', (reason) => listener({ reason }));
};
process.on('uncaughtException', (error) => {
  if (error && error.name === 'ExitStatus') return;
  parentPort.postMessage({ error: String(error) });
});
vm.runInThisContext(fs.readFileSync(workerData.file, 'utf8'), { filename: workerData.file });
