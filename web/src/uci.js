// The page's side of the UCI conversation with one Vorna engine.
//
// While Vorna searches it reads only "stop" and "isready" and drops every other line, so a new
// position may only be sent once the running search has answered "bestmove". This driver therefore
// runs one search at a time: a search asked for while another runs waits (the latest request
// replaces an earlier waiting one), and a cancelled search's "bestmove" is swallowed. "ucinewgame"
// asked for during a search waits for that search's "bestmove" in the same way.
//
// It also watches the engine while it waits on it: a worker that is killed or hangs says nothing,
// so after quietMs without a line it asks "isready" (Vorna answers that during a search too), and
// when answerMs more pass without any line the engine counts as dead. onDead(error) is called once,
// for that, for the engine's own onExit report, or when it says it quit.

// Reads one "info" line: { depth, scoreCp | scoreMate, time, nodes, nps, pv } (fields that are
// missing stay undefined). Vorna prints one move as the principal variation.
export function parseInfo(line) {
  const tokens = line.trim().split(/\s+/);
  if (tokens[0] !== "info") return null;
  const info = {};
  for (let i = 1; i < tokens.length; i++) {
    const word = tokens[i];
    if (word === "depth" || word === "time" || word === "nodes" || word === "nps") {
      info[word] = Number(tokens[++i]);
    } else if (word === "score") {
      const kind = tokens[++i];
      const value = Number(tokens[++i]);
      if (kind === "cp") info.scoreCp = value;
      else if (kind === "mate") info.scoreMate = value;
    } else if (word === "pv") {
      info.pv = tokens.slice(i + 1);
      break;
    }
  }
  return info;
}

// The time the page runs on; tests give a fake one.
export const systemTime = {
  now: () => performance.now(),
  setTimeout: (f, ms) => setTimeout(f, ms),
  clearTimeout: (id) => clearTimeout(id),
};

// engine: the object of startVorna() (send, onLine, terminate, onExit).
// log(direction, line): every line sent ("out") and received ("in"), for the protocol panel.
// options: { time, quietMs, answerMs, onDead(error) }.
export function createUci(engine, log = () => {}, options = {}) {
  const time = options.time || systemTime;
  const quietMs = options.quietMs ?? 3000;
  const answerMs = options.answerMs ?? 5000;
  const onDead = options.onDead || (() => {});

  let current = null; // the search the engine is running: { onInfo, onBestmove, cancelled, sentAt }
  let waiting = null; // the search to start when the current one has answered
  let newGamePending = false;
  let readyWaiters = [];
  let idWaiter = null;
  let name = "";
  let dead = null;    // the Error the engine ended with
  let heardAt = 0;         // the last line, or the start of the wait if that came later
  let watching = false;    // the driver waits on the engine and its timer runs
  let watchTimer = null;
  let probeSentAt = null;  // the watch's "isready", while unanswered

  const busy = () => !dead && (current !== null || readyWaiters.length > 0 || idWaiter !== null);

  const stopWatch = () => {
    if (watchTimer !== null) time.clearTimeout(watchTimer);
    watchTimer = null;
    watching = false;
    probeSentAt = null;
  };

  const die = (error) => {
    if (dead) return;
    dead = error;
    stopWatch();
    current = waiting = null;
    const waiters = readyWaiters;
    readyWaiters = [];
    waiters.forEach((w) => w.reject(error));
    if (idWaiter) idWaiter.reject(error);
    idWaiter = null;
    engine.onLine = null;
    engine.onExit = null;
    try { engine.terminate(); } catch { /* already gone */ }
    onDead(error);
  };

  // While the driver waits on the engine one timer runs: quiet for quietMs, then a probe; no line
  // within answerMs of the probe, and the engine is dead.
  const watch = () => {
    if (!busy()) { stopWatch(); return; }
    if (watchTimer !== null) time.clearTimeout(watchTimer);
    if (!watching) { watching = true; heardAt = time.now(); }
    const due = probeSentAt === null ? heardAt + quietMs : probeSentAt + answerMs;
    watchTimer = time.setTimeout(check, Math.max(0, due - time.now()));
  };
  const check = () => {
    watchTimer = null;
    if (!busy()) { stopWatch(); return; }
    const now = time.now();
    if (probeSentAt !== null) {
      if (now >= probeSentAt + answerMs) {
        die(new Error(`Vorna stopped answering (no reply to "isready" within ${Math.round(answerMs / 1000)} s)`));
        return;
      }
    } else if (now >= heardAt + quietMs) {
      probeSentAt = now;
      send("isready");
    }
    watch();
  };

  const send = (line) => {
    if (dead) return;
    log("out", line);
    engine.send(line);
  };

  const start = (search) => {
    if (newGamePending) {
      newGamePending = false;
      send("ucinewgame");
    }
    current = search;
    send(search.position);
    search.sentAt = time.now();
    send(search.go);
    watch();
  };

  engine.onExit = (info) => {
    if (info && info.error) die(info.error instanceof Error ? info.error : new Error(String(info.error)));
    else die(new Error(`Vorna ended${info && info.status !== undefined ? ` (status ${info.status})` : ""}`));
  };

  engine.onLine = (line) => {
    if (dead) return;
    heardAt = time.now();
    probeSentAt = null;
    log("in", line);
    if (line.startsWith("info ")) {
      if (current && !current.cancelled && current.onInfo) {
        const info = parseInfo(line);
        if (info) current.onInfo(info);
      }
    } else if (line.startsWith("bestmove")) {
      const search = current;
      current = null;
      const move = line.split(/\s+/)[1] || "";
      if (waiting) {
        const next = waiting;
        waiting = null;
        start(next);
      } else if (newGamePending) {
        newGamePending = false;
        send("ucinewgame");
      }
      if (search && !search.cancelled) search.onBestmove(move, time.now() - search.sentAt);
    } else if (line === "readyok") {
      const waiters = readyWaiters;
      readyWaiters = [];
      waiters.forEach((w) => w.resolve());
    } else if (line.startsWith("id name ")) {
      name = line.slice(8).replace(/ UCI$/, "");
    } else if (line === "uciok" && idWaiter) {
      idWaiter.resolve();
      idWaiter = null;
    }
    watch();
  };

  return {
    get name() { return name; },
    get searching() { return current !== null && !current.cancelled; },
    get dead() { return dead; },

    // Opens the conversation; resolves when the engine has answered "uciok" and "readyok", rejects
    // when it dies first.
    async init() {
      await new Promise((resolve, reject) => {
        if (dead) { reject(dead); return; }
        idWaiter = { resolve, reject };
        send("uci");
        watch();
      });
      await this.isReady();
    },

    isReady() {
      return new Promise((resolve, reject) => {
        if (dead) { reject(dead); return; }
        readyWaiters.push({ resolve, reject });
        send("isready");
        watch();
      });
    },

    // Searches a position. position: the whole "position ..." command; go: the "go ..." command.
    // onInfo(info) for each thinking line, onBestmove(move, ms) once (ms from "go" to "bestmove").
    // Returns a handle whose cancel() ends the search at once ("stop") without a report; a new search
    // may be asked for right after it. A dead engine reports nothing.
    search(position, go, onInfo, onBestmove) {
      const search = { position, go, onInfo, onBestmove, cancelled: false, sentAt: 0 };
      if (dead) {
        search.cancelled = true;
      } else if (current) {
        if (!current.cancelled) throw new Error("a search is already running");
        waiting = search;
      } else {
        start(search);
      }
      return {
        cancel: () => {
          if (search.cancelled) return;
          search.cancelled = true;
          if (waiting === search) waiting = null;
          else if (current === search) send("stop");
        },
      };
    },

    // "ucinewgame", at once or, during a search, right after its "bestmove".
    newGame() {
      if (current) newGamePending = true;
      else send("ucinewgame");
    },

    terminate() {
      if (dead) return;
      dead = new Error("terminated");
      stopWatch();
      engine.onLine = null;
      engine.onExit = null;
      engine.terminate();
    },
  };
}
