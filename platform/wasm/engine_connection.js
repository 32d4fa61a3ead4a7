
// The host's side of the engine's worker, shared by the page's module (engine_module.js, which starts a
// Web Worker) and the npm package's Node module (node_module.js, which starts a worker thread that acts
// as one): the engine object that startVorna() returns. The worker speaks the messages of worker_pre.js.
const STARTUP_TIMEOUT_MS = 30000;

// A failure of the worker in words for the person at the page (host: "browser" or "Node").
function explainVornaFailure(what, host) {
  const text = String(what && what.message ? what.message : what || "unknown failure");
  if (/memory/i.test(text) && /alloc|out of|range/i.test(text)) {
    return `${host === "browser" ? "the browser" : host} could not give Vorna the memory it needs (about 170 MB): ${text}`;
  }
  if (/no native wasm|WebAssembly is (not defined|undefined)/i.test(text)) {
    return `this ${host} runs no WebAssembly, which Vorna needs: ${text}`;
  }
  if (/SyntaxError/.test(text)) return `its engine file is damaged or incomplete (${text})`;
  return text;
}

// Resolves with the engine object once the worker says that the engine has started; rejects with an
// Error saying why it could not. worker: a Web Worker, or an object with its members onmessage, onerror,
// onmessageerror, postMessage and terminate. An error of a worker that never loaded (no such file, no
// access to it) carries loadFailed = true.
async function connectVorna(worker, { input, url, timeout = STARTUP_TIMEOUT_MS, host = "browser" }) {
  const encoder = new TextEncoder();
  let queue = null;
  let listener = null;
  let exitListener = null;
  let started = false;
  let spoke = false;        // the worker has sent a message: its file has loaded
  let ended = null;         // { status } or { error } once the engine has ended
  let commandsUsed = false;
  const early = [];         // lines that came before onLine was set
  const waiting = new Set(); // the command() calls that wait for their line

  // Ends the command() calls still waiting, each with an Error that says why and the lines it got.
  const abandon = (why) => {
    for (const waiter of waiting) {
      clearTimeout(waiter.timer);
      waiter.reject(Object.assign(new Error(`${why} before ${waiter.what}`), { lines: waiter.lines }));
    }
    waiting.clear();
  };

  const end = (info) => {
    if (ended) return;
    ended = info;
    worker.terminate();
    abandon(info.error ? info.error.message : `Vorna ended (exit status ${info.status})`);
    if (exitListener) queueMicrotask(() => exitListener && exitListener(info));
  };

  const receive = (line) => {
    if (listener) listener(line);
    else if (!commandsUsed) early.push(line);
    for (const waiter of waiting) {
      waiter.lines.push(line);
      if (waiter.matches(line)) {
        waiting.delete(waiter);
        clearTimeout(waiter.timer);
        waiter.resolve(waiter.lines);
      }
    }
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
    // Sends one command line; resolves with the lines that came after it up to and including the first
    // that matches until (a RegExp or a function of the line). Without until it resolves at once with
    // no lines, once the line is sent. Rejects when options.timeout ms pass first, or the engine ends
    // first; the Error's lines are what came until then.
    command(line, until, options = {}) {
      commandsUsed = true;
      try {
        if (ended) throw new Error(`Vorna has ended; "${line}" was not sent`);
        if (until == null) {
          engine.send(line);
          return Promise.resolve([]);
        }
        const matches = typeof until === "function" ? until
          : until instanceof RegExp ? (text) => text.search(until) >= 0 : null;
        if (!matches) throw new TypeError("command(): until must be a RegExp or a function of a line");
        return new Promise((resolve, reject) => {
          const waiter = { matches, lines: [], resolve, reject, timer: undefined,
                           what: `a line matching ${until} came after "${String(line).trim()}"` };
          if (options.timeout != null) {
            waiter.timer = setTimeout(() => {
              waiting.delete(waiter);
              reject(Object.assign(new Error(`no line matching ${until} within ${options.timeout} ms of "${String(line).trim()}"`),
                                   { lines: waiter.lines }));
            }, options.timeout);
          }
          waiting.add(waiter);
          try {
            engine.send(line);
          } catch (error) {
            waiting.delete(waiter);
            clearTimeout(waiter.timer);
            reject(error);
          }
        });
      } catch (error) {
        return Promise.reject(error);
      }
    },
    terminate() {
      if (!ended) ended = { status: null };
      worker.terminate();
      abandon("Vorna was terminated");
    },
  };

  await new Promise((resolve, reject) => {
    const fail = (what, loadFailed = false) => {
      if (!started) {
        clearTimeout(timer);
        const error = new Error(`Vorna could not start: ${explainVornaFailure(what, host)}`);
        if (loadFailed) error.loadFailed = true;
        ended = { error };
        worker.terminate();
        reject(error);
      } else {
        end({ error: new Error(`Vorna stopped working: ${explainVornaFailure(what, host)}`) });
      }
    };
    const timer = setTimeout(() => fail(`no answer from its worker (${url}) within ${timeout} ms`), timeout);
    worker.onmessage = (event) => {
      const message = event.data;
      spoke = true;
      if (message.ready) {
        if (message.buffer) queue = new VornaInputQueue(message.buffer);
        started = true;
        clearTimeout(timer);
        resolve();
      } else if ("line" in message) {
        receive(message.line);
      } else if ("exit" in message) {
        end({ status: message.exit });
      } else if ("error" in message) {
        fail(message.error);
      }
    };
    // A browser reports a script it could not fetch or may not run with a plain event, no message.
    worker.onerror = (event) => {
      event.preventDefault();
      fail(event.message || `its worker (${url}) failed to load`, !event.message && !spoke);
    };
    worker.onmessageerror = () => fail("a message from its worker could not be read");
  });
  return engine;
}
