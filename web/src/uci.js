// The page's side of the UCI conversation with one Vorna engine.
//
// While Vorna searches it reads only "stop" and "isready" and drops every other line, so a new
// position may only be sent once the running search has answered "bestmove". This driver therefore
// runs one search at a time: a search asked for while another runs waits (the latest request
// replaces an earlier waiting one), and a cancelled search's "bestmove" is swallowed.

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

// engine: the object of startVorna() (send, onLine, terminate).
// log(direction, line): every line sent ("out") and received ("in"), for the protocol panel.
export function createUci(engine, log = () => {}) {
  let current = null; // the search the engine is running: { onInfo, onBestmove, cancelled, sentAt }
  let waiting = null; // the search to start when the current one has answered
  let readyWaiters = [];
  let idWaiter = null;
  let name = "";

  const send = (line) => {
    log("out", line);
    engine.send(line);
  };

  const start = (search) => {
    current = search;
    send(search.position);
    search.sentAt = performance.now();
    send(search.go);
  };

  engine.onLine = (line) => {
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
      }
      if (search && !search.cancelled) search.onBestmove(move, performance.now() - search.sentAt);
    } else if (line === "readyok") {
      const waiters = readyWaiters;
      readyWaiters = [];
      waiters.forEach((resolve) => resolve());
    } else if (line.startsWith("id name ")) {
      name = line.slice(8).replace(/ UCI$/, "");
    } else if (line === "uciok" && idWaiter) {
      idWaiter();
      idWaiter = null;
    }
  };

  return {
    get name() { return name; },
    get searching() { return current !== null && !current.cancelled; },

    // Opens the conversation; resolves when the engine has answered "uciok" and "readyok".
    async init() {
      await new Promise((resolve) => { idWaiter = resolve; send("uci"); });
      await this.isReady();
    },

    isReady() {
      return new Promise((resolve) => { readyWaiters.push(resolve); send("isready"); });
    },

    // Searches a position. position: the whole "position ..." command; go: the "go ..." command.
    // onInfo(info) for each thinking line, onBestmove(move, ms) once (ms from "go" to "bestmove").
    // Returns a handle whose cancel() ends the search at once ("stop") without a report; a new search
    // may be asked for right after it.
    search(position, go, onInfo, onBestmove) {
      const search = { position, go, onInfo, onBestmove, cancelled: false, sentAt: 0 };
      if (current) {
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

    newGame() { if (!current) send("ucinewgame"); },

    terminate() { engine.terminate(); },
  };
}
