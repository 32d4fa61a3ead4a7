// A fake clock and a fake engine for the page's logic in Node.

// Lets the promise callbacks and the fake engine's replies run.
export const settle = () => new Promise((resolve) => setImmediate(resolve));

// { now, setTimeout, clearTimeout } on a time that moves only with advance(ms), which runs the timers
// that fall due on the way, in order.
export function fakeTime() {
  let now = 0, nextId = 1;
  let timers = [];
  const time = {
    now: () => now,
    setTimeout(f, ms) {
      const id = nextId++;
      timers.push({ id, at: now + Math.max(0, ms), f });
      return id;
    },
    clearTimeout(id) { timers = timers.filter((t) => t.id !== id); },
    async advance(ms) {
      const end = now + ms;
      await settle();
      for (;;) {
        timers.sort((a, b) => a.at - b.at || a.id - b.id);
        const due = timers[0];
        if (!due || due.at > end) break;
        timers.shift();
        now = due.at;
        due.f();
        await settle();
      }
      now = end;
      await settle();
    },
  };
  return time;
}

// An engine as startVorna() gives it, that answers "uci" and "isready" and, during a search, "stop"
// (with bestmove 0000); the test answers "go" with reply(). silent() makes it hang: it answers nothing.
export function fakeEngine() {
  let searching = false;
  let hung = false;
  const engine = {
    sent: [],
    onLine: null,
    onExit: null,
    terminated: false,
    send(line) {
      engine.sent.push(line);
      if (hung || engine.terminated) return;
      if (line === "uci") say("id name Vorna 1.12 wasm UCI", "id author Vesterov", "uciok");
      else if (line === "isready") say("readyok");
      else if (line.startsWith("go")) searching = true;
      else if (line === "stop" && searching) { searching = false; say("bestmove 0000"); }
    },
    terminate() { engine.terminated = true; },
    // The search's thinking line and its move.
    reply(move, info = "info depth 5 score cp 20 time 10 nodes 1000 nps 100000 pv " + move) {
      if (!searching) throw new Error(`no search to answer; sent: ${engine.sent.slice(-4).join(" | ")}`);
      searching = false;
      say(info, `bestmove ${move}`);
    },
    info(line) { say(line); },
    silent() { hung = true; },
    crash(message = "RuntimeError: unreachable") {
      engine.terminated = true;
      if (engine.onExit) engine.onExit({ error: new Error(message) });
    },
    get searching() { return searching; },
    // The lines sent since mark (an index into sent).
    since(mark) { return engine.sent.slice(mark); },
    lastGo() { return [...engine.sent].reverse().find((l) => l.startsWith("go")); },
  };
  function say(...lines) {
    queueMicrotask(() => lines.forEach((l) => { if (!engine.terminated && engine.onLine) engine.onLine(l); }));
  }
  return engine;
}

// A storage like localStorage, in memory.
export function fakeStorage() {
  const items = new Map();
  return {
    getItem: (k) => (items.has(k) ? items.get(k) : null),
    setItem: (k, v) => { items.set(k, String(v)); },
    removeItem: (k) => { items.delete(k); },
    items,
  };
}
