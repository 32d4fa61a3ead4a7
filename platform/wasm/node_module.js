
// The npm package under Node (vorna-node.mjs; the input queue and the engine object above are part of
// it): the same startVorna() as in a browser, the engine in a worker thread. The thread runs the
// browser's worker files themselves (vorna-node-worker.cjs gives them what they use of a Web Worker),
// so the package carries the engine once for both. Node always has shared memory: the input goes
// through it unless options.input is "messages".
//
//   import { startVorna } from "vorna";
//   const engine = await startVorna();
//   await engine.command("uci", /^uciok$/);
//   const lines = await engine.command("go depth 10", /^bestmove/);
//   engine.terminate();                        // or send "quit": the thread keeps Node running until then
import { Worker as NodeWorker } from "node:worker_threads";
import { fileURLToPath } from "node:url";

// A worker thread seen as a Web Worker: onmessage and onerror with events, postMessage, terminate. A
// thread that ends without the engine's {exit} (killed by a resource limit) is an error.
function workerThread(file) {
  const thread = new NodeWorker(fileURLToPath(new URL("./vorna-node-worker.cjs", import.meta.url)), { workerData: { file } });
  const face = {
    onmessage: null,
    onerror: null,
    onmessageerror: null,
    postMessage: (message) => thread.postMessage(message),
    terminate: () => { thread.terminate(); },
  };
  const error = (message) => face.onerror && face.onerror({ message, preventDefault() {} });
  thread.on("message", (data) => face.onmessage && face.onmessage({ data }));
  thread.on("messageerror", () => face.onmessageerror && face.onmessageerror({}));
  thread.on("error", (e) => error(String((e && e.message) || e)));
  thread.on("exit", (code) => error(`its worker thread ended (code ${code})`));
  return face;
}

export async function startVorna(options = {}) {
  const input = options.input ?? "shared-memory";
  if (input !== "shared-memory" && input !== "messages") throw new TypeError(`unknown input path: ${input}`);
  const url = options.url ?? new URL(input === "shared-memory" ? "./vorna-worker.js" : "./vorna-worker-messages.js", import.meta.url);
  const file = String(url.href ?? url).startsWith("file:") ? fileURLToPath(String(url.href ?? url)) : String(url);
  return connectVorna(workerThread(file), { input, url: file, timeout: options.timeout ?? STARTUP_TIMEOUT_MS, host: "Node" });
}
