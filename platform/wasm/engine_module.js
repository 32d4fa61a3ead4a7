
// The page's side of the engine (build-web/vorna-engine.js, an ES module; the input queue and the engine
// object above are part of it). The engine runs in a Web Worker of its own. On a cross-origin isolated
// page its input travels through shared memory (vorna-worker.js); anywhere else - a plain static server,
// a page opened from a file, a phone on the local network - as messages to the worker
// (vorna-worker-messages.js), whose search gives its event loop a turn every few milliseconds to read
// them. Both answer alike.
//
//   import { startVorna } from "./vorna-engine.js";
//   const engine = await startVorna();        // rejects with a message a person can read
//   engine.onLine = (line) => { ... };        // every output line, without its newline
//   engine.onExit = ({ status, error }) => {}; // once: the engine quit (status) or failed (error)
//   engine.send("uci");                       // one command line; works during a search too
//   const lines = await engine.command("go depth 10", /^bestmove/); // sends, waits for the line
//   engine.terminate();                       // ends the worker
//
// Options: url (where the worker is; default the file beside this module for the input path in use),
// input ("shared-memory" or "messages"; default the first where the page is cross-origin isolated,
// the second elsewhere), timeout (ms to wait for the engine to start, default 30000).
function canShareMemory() {
  return typeof SharedArrayBuffer !== "undefined" && globalThis.crossOriginIsolated === true;
}

// Set by the npm package's browser module (engine_inline.js): a function that loads a copy of the
// messages worker's source. It runs the engine when the worker file beside this module cannot be
// loaded: a bundler that left the file behind (esbuild), a module served from another origin than the
// page's (a CDN: browsers start workers from their page's origin only).
let inlineMessagesWorker = null;
let inlineWorkerUrl = null;

// Each worker file in a `new Worker(new URL("./file", import.meta.url))` of its own: the form in which
// bundlers (webpack, Vite) find the file and bundle it as a worker.
function startWorker(input) {
  if (input === "shared-memory") return new Worker(new URL("./vorna-worker.js", import.meta.url));
  return new Worker(new URL("./vorna-worker-messages.js", import.meta.url));
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
  const settings = { input, timeout: options.timeout ?? STARTUP_TIMEOUT_MS, host: "browser" };
  if (options.url != null) {
    const url = String(options.url.href ?? options.url);
    return connectVorna(new Worker(url), { ...settings, url });
  }

  const file = input === "shared-memory" ? "vorna-worker.js" : "vorna-worker-messages.js";
  const fallback = inlineMessagesWorker !== null && options.input !== "shared-memory";
  let worker = null;
  try {
    worker = startWorker(input);
  } catch (error) {
    if (!fallback) throw error;
  }
  if (worker) {
    try {
      return await connectVorna(worker, { ...settings, url: file });
    } catch (error) {
      if (!fallback || !error.loadFailed) throw error;
    }
  }
  if (inlineWorkerUrl === null) {
    let source;
    try {
      source = (await inlineMessagesWorker()).default;
    } catch (error) {
      throw new Error(`Vorna could not start: neither ${file} nor the module's own copy of the engine could be loaded (${error.message})`);
    }
    inlineWorkerUrl = URL.createObjectURL(new Blob([source], { type: "text/javascript" }));
  }
  return connectVorna(new Worker(inlineWorkerUrl), { ...settings, input: "messages", url: "its own copy of vorna-worker-messages.js" });
}
