
// The page's side of the engine (build-web/vorna-engine.js, an ES module; the input queue above is part
// of it). The engine runs in a Web Worker of its own. On a cross-origin isolated page its input travels
// through shared memory (vorna-worker.js); anywhere else - a plain static server, a page opened from a
// file, a phone on the local network - as messages to the worker (vorna-worker-messages.js), whose
// search gives its event loop a turn every few milliseconds to read them. Both answer alike.
//
//   import { startVorna } from "./vorna-engine.js";
//   const engine = await startVorna();        // rejects with a message a person can read
//   engine.onLine = (line) => { ... };        // every output line, without its newline
//   engine.onExit = ({ status, error }) => {}; // once: the engine quit (status) or failed (error)
//   engine.send("uci");                       // one command line; works during a search too
//   engine.terminate();                       // ends the worker
//
// Options: url (where the worker is; default the file beside this module for the input path in use),
// input ("shared-memory" or "messages"; default the first where the page is cross-origin isolated,
// the second elsewhere), timeout (ms to wait for the engine to start, default 30000).
const STARTUP_TIMEOUT_MS = 30000;

function canShareMemory() {
  return typeof SharedArrayBuffer !== "undefined" && globalThis.crossOriginIsolated === true;
}

// A failure of the worker in words for the person at the page.
function explain(what) {
  const text = String(what && what.message ? what.message : what || "unknown failure");
  if (/memory/i.test(text) && /alloc|out of|range/i.test(text)) {
    return `the browser could not give Vorna the memory it needs (about 170 MB): ${text}`;
  }
  if (/no native wasm|WebAssembly is (not defined|undefined)/i.test(text)) {
    return `this browser runs no WebAssembly, which Vorna needs: ${text}`;
  }
  if (/SyntaxError/.test(text)) return `its engine file is damaged or incomplete (${text})`;
  return text;
}

function defaultWorkerUrl(input) {
  return input === "shared-memory"
    ? new URL("./vorna-worker.js", import.meta.url)
    : new URL("./vorna-worker-messages.js", import.meta.url);
}

export async function startVorna(options = {}) {
  const input = options.input ?? (canShareMemory() ? "shared-memory" : "messages");
  if (input !== "shared-memory" && input !== "messages") throw new TypeError(`unknown input path: ${input}`);
  if (input === "shared-memory" && !canShareMemory()) {
    throw new Error("the shared-memory input needs a cross-origin isolated page (headers Cross-Origin-Opener-Policy: " +
                    "same-origin and Cross-Origin-Embedder-Policy: require-corp)");
  }
  if (typeof Worker === "undefined") throw new Error("this browser cannot run Web Workers, which Vorna needs");
  if (typeof WebAssembly === "undefined") throw new Error("this browser runs no WebAssembly, which Vorna needs");
  const url = options.url ?? defaultWorkerUrl(input);
  const worker = new Worker(url);
  const encoder = new TextEncoder();
  let queue = null;
  let listener = null;
  let exitListener = null;
  let started = false;
  let ended = null;   // { status } or { error } once the engine has ended
  const early = [];   // lines that came before onLine was set

  const end = (info) => {
    if (ended) return;
    ended = info;
    worker.terminate();
    if (exitListener) queueMicrotask(() => exitListener && exitListener(info));
  };

  const engine = {
    inputPath: input,
    get onLine() { return listener; },
    set onLine(f) {
      listener = f;
      if (f && early.length) {
        const lines = early.splice(0);
        queueMicrotask(() => lines.forEach((line) => listener && listener(line)));
      }
    },
    get onExit() { return exitListener; },
    set onExit(f) {
      exitListener = f;
      if (f && ended) queueMicrotask(() => exitListener && exitListener(ended));
    },
    // One command line. A final line break is allowed; one inside the text would make two commands.
    send(line) {
      const text = String(line).replace(/\r?\n$/, "");
      if (/[\r\n]/.test(text)) throw new TypeError("send() takes one command line: " + JSON.stringify(text));
      if (ended) return;
      if (queue) queue.write(encoder.encode(text + "\n"));
      else worker.postMessage({ input: text + "\n" });
    },
    terminate() {
      if (!ended) ended = { status: null };
      worker.terminate();
    },
  };

  await new Promise((resolve, reject) => {
    const fail = (what) => {
      const error = new Error(`Vorna could not start: ${explain(what)}`);
      if (!started) {
        ended = { error };
        worker.terminate();
        reject(error);
      } else {
        end({ error: new Error(`Vorna stopped working: ${explain(what)}`) });
      }
    };
    const timer = setTimeout(() => fail(`no answer from its worker (${url}) within ${options.timeout ?? STARTUP_TIMEOUT_MS} ms`),
                             options.timeout ?? STARTUP_TIMEOUT_MS);
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.ready) {
        if (message.buffer) queue = new VornaInputQueue(message.buffer);
        started = true;
        clearTimeout(timer);
        resolve();
      } else if ("line" in message) {
        if (listener) listener(message.line);
        else early.push(message.line);
      } else if ("exit" in message) {
        end({ status: message.exit });
      } else if ("error" in message) {
        clearTimeout(timer);
        fail(message.error);
      }
    };
    worker.onerror = (event) => {
      event.preventDefault();
      clearTimeout(timer);
      fail(event.message || `its worker (${url}) failed to load`);
    };
    worker.onmessageerror = () => fail("a message from its worker could not be read");
  });
  return engine;
}
