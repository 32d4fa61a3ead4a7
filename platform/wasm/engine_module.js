
// The page's side of the engine (build-web/vorna-engine.js, an ES module; the input queue above is part
// of it). The engine runs in a Web Worker; the page needs cross-origin isolation (COOP/COEP headers, as
// tools/serve-web.py sends them) for the shared memory its input travels through.
//
//   import { startVorna } from "./vorna-engine.js";
//   const engine = await startVorna();        // or startVorna({ url }): where vorna-worker.js is
//   engine.onLine = (line) => { ... };        // every output line, without its newline
//   engine.send("uci");                       // one command line; works during a search too
//   engine.terminate();                       // ends the worker
export async function startVorna(options = {}) {
  if (typeof SharedArrayBuffer === "undefined" || !globalThis.crossOriginIsolated) {
    throw new Error("Vorna needs a cross-origin isolated page (headers Cross-Origin-Opener-Policy: same-origin " +
                    "and Cross-Origin-Embedder-Policy: require-corp) for the shared memory of its input");
  }
  const url = options.url ?? new URL("./vorna-worker.js", import.meta.url);
  const worker = new Worker(url);
  const encoder = new TextEncoder();
  let queue = null;
  let listener = null;
  let ended = false;
  const early = [];  // lines that came before onLine was set

  const engine = {
    get onLine() { return listener; },
    set onLine(f) {
      listener = f;
      if (f && early.length) {
        const lines = early.splice(0);
        queueMicrotask(() => lines.forEach((line) => listener && listener(line)));
      }
    },
    // One command line. A final line break is allowed; one inside the text would make two commands.
    send(line) {
      const text = String(line).replace(/\r?\n$/, "");
      if (/[\r\n]/.test(text)) throw new TypeError("send() takes one command line: " + JSON.stringify(text));
      if (!ended) queue.write(encoder.encode(text + "\n"));
    },
    terminate() {
      ended = true;
      worker.terminate();
    },
  };

  await new Promise((resolve, reject) => {
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.ready) {
        queue = new VornaInputQueue(message.ready);
        resolve();
      } else if ("line" in message) {
        if (listener) listener(message.line);
        else early.push(message.line);
      } else if ("exit" in message) {
        ended = true;
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      reject(new Error("the Vorna worker failed to start: " + (event.message || url)));
    };
  });
  return engine;
}
