// The game the page plays, without the page: the moves, the position shown, who moves, whether
// Vorna analyses, the result, the clocks, the engine and what it is asked to do. main.js draws what
// view() returns and forwards the user's actions here; the tests drive the same object with a fake
// engine and a fake clock.
//
// The game is a list of moves; Take back moves its last moves to a redo list (Redo plays them
// again, a different move drops them). The position shown (the view) walks between the start and
// the last move without changing the game; in play the user moves only at the last move, in analysis
// at the position shown (the moves after it are taken back first). Analysis follows the view.
import { Chess } from "chess.js";
import { createUci, systemTime } from "./uci.js";
import { checkFen } from "./fen.js";

export const START_FEN = new Chess().fen();
export const STORAGE_KEY = "vorna-page-game-v1";  // a new record layout gets a new key
export const STORAGE_VERSION = 1;
export const LOW_TIME_MS = 10000;        // a clock below this is shown as low
export const START_TIMEOUT_MS = 45000;   // the engine has this long to start and answer "uciok" (startVorna() has 30 s of its own)
export const DRAW_ACCEPT_CP = -50;       // Vorna accepts a draw when its last score is at most this

// Strength: a depth limit and a cap on the time per move; level 8 is the engine at full strength.
export const LEVELS = {
  1: { depth: 1, ms: 100 },
  2: { depth: 2, ms: 100 },
  3: { depth: 3, ms: 200 },
  4: { depth: 4, ms: 300 },
  5: { depth: 5, ms: 500 },
  6: { depth: 7, ms: 1000 },
  7: { depth: 10, ms: 2000 },
  8: { depth: null, ms: null },
};

// "move:1000" (a time per move in ms) or "clock:180000:2000" (minutes on the clock, an increment).
export function parseTimeControl(text) {
  const move = /^move:(\d{2,6})$/.exec(text);
  if (move) return { kind: "move", ms: Number(move[1]) };
  const clock = /^clock:(\d{4,8}):(\d{1,6})$/.exec(text);
  if (clock) return { kind: "clock", base: Number(clock[1]), inc: Number(clock[2]) };
  return null;
}

const COLOR_NAME = { w: "White", b: "Black" };
const other = (color) => (color === "w" ? "b" : "w");
const RESULT_RE = /^(1-0|0-1|1\/2-1\/2) \{[^{}]{1,80}\}$/;

// The game's end by the rules, in the words Vorna uses in xboard mode, or null while it goes on.
export function gameResult(chess) {
  const mover = chess.turn();
  if (chess.isCheckmate()) return mover === "w" ? "0-1 {mate}" : "1-0 {mate}";
  if (chess.isStalemate()) return "1/2-1/2 {stalemate}";
  if (chess.isThreefoldRepetition()) return "1/2-1/2 {repetition}";
  if (chess.isDrawByFiftyMoves()) return "1/2-1/2 {50 moves}";
  if (chess.isInsufficientMaterial()) return "1/2-1/2 {insufficient material}";
  return null;
}

// A move typed as coordinates (e2e4, e7e8q, castling as the king's move) or in SAN (Nf3, O-O), read
// in the position fen: the legal move (chess.js's verbose form) or null.
export function parseMoveText(fen, text) {
  const t = text.trim();
  const position = new Chess(fen);
  const legal = position.moves({ verbose: true });
  const coords = /^([a-h][1-8])[-x]?([a-h][1-8])([qrbn])?$/i.exec(t);
  if (coords) {
    const [, from, to, promo] = coords;
    const moves = legal.filter((m) => m.from === from.toLowerCase() && m.to === to.toLowerCase());
    if (moves.length === 1) return moves[0];
    return moves.find((m) => m.promotion === (promo ? promo.toLowerCase() : "q")) || null;
  }
  try {
    const san = position.move(t).san;
    return legal.find((m) => m.san === san) || null;
  } catch {
    return null;
  }
}

// Why chess.js refused a PGN, in a sentence (without its full stop) that points at the place.
function pgnError(text, error) {
  const message = String(error && error.message || error);
  const illegal = /^Invalid move in PGN: (.*)$/.exec(message);
  if (illegal) return `${illegal[1]} is not a legal move there`;
  if (/^Invalid FEN: /.test(message)) return `its position: ${message.slice(13)}`;
  const at = error && error.location && error.location.start;
  if (at) {
    const before = text.slice(0, at.offset).match(/\S*$/)[0];
    const after = text.slice(at.offset).match(/^\S*/)[0];
    const word = (before + after).slice(0, 40) || "the end";
    return `it cannot be read from "${word}" on (line ${at.line}, column ${at.column - before.length})`;
  }
  return message.replace(/\.$/, "");
}

function today(date) {
  return `${date.getFullYear()}.${String(date.getMonth() + 1).padStart(2, "0")}.${String(date.getDate()).padStart(2, "0")}`;
}

const moveOf = (text) => ({ from: text.slice(0, 2), to: text.slice(2, 4), promotion: text.slice(4, 5) || undefined });

// Score from White's side ({ cp } or { mate }) of a score from the side to move's side.
const whiteSide = (info, turn) => {
  const sign = turn === "w" ? 1 : -1;
  if (info.scoreMate !== undefined) return { mate: sign * info.scoreMate };
  if (info.scoreCp !== undefined) return { cp: sign * info.scoreCp };
  return null;
};

export function formatScore(score) {
  if (!score) return "–";
  if (score.mate !== undefined) return score.mate > 0 ? `White mates in ${score.mate}` : `Black mates in ${-score.mate}`;
  const pawns = score.cp / 100;
  return `${pawns > 0 ? "+" : ""}${pawns.toFixed(2)}`;
}

// options:
//   startEngine()  a promise of an engine ({ send, onLine, terminate, onExit }), as startVorna() gives
//   time           { now, setTimeout, clearTimeout } (uci.js's systemTime by default)
//   storage        { getItem, setItem, removeItem } to keep the game across a reload (or none)
//   date()         today's date, for the PGN
//   log(dir, line) the protocol lines
//   quietMs, answerMs  the engine watch's times (uci.js)
export function createGame(options = {}) {
  const time = options.time || systemTime;
  const storage = options.storage || null;
  const startEngine = options.startEngine || (() => Promise.reject(new Error("no engine")));
  const dateNow = options.date || (() => new Date());
  const log = options.log || (() => {});
  const listeners = new Set();

  let uci = null;          // the UCI driver of the running engine
  let flagTimer = null;
  let engineGen = 0;       // each start of the engine; replies of an older one are ignored

  const s = {
    startFen: START_FEN,
    chess: new Chess(),
    moves: [],             // { san, lan, from, to, color, fen (after), by, engine, clock, score }
    redo: [],              // moves taken back, next first
    view: 0,               // plies shown
    userColor: "w",
    level: 8,
    timeControl: "move:1000",
    analysing: false,
    result: null,          // "1-0 {mate}" and the like
    date: today(dateNow()),
    tags: {},              // Event, Site, Round of an imported game
    clocks: null,          // { w, b, running, since } in clock games
    clockStart: null,      // { w, b } at the game's start or the last change of time control
    drawOfferedAt: -1,     // moves in the game when the last draw offer was declined
    note: "",              // what just happened, shown before the status
    notice: "",            // about the saved game
    engine: { status: "starting", message: "", name: "" },
    job: null,             // { key, kind: "play" | "analyse", fen, turn, handle, ownScore }
    thinking: null,        // the latest search's report: { fen, depth, score, best, nps }
    evaluation: null,      // the latest score, from White's side
    lastReplyMs: null,
    version: 0,            // counts changes of the game record
  };

  const notify = () => listeners.forEach((f) => f());
  const fenAt = (n) => (n === 0 ? s.startFen : s.moves[n - 1].fen);
  const tc = () => parseTimeControl(s.timeControl);
  const vornaName = () => `${s.engine.name || "Vorna"} (level ${s.level})`;

  function positionCommand(n) {
    const base = s.startFen === START_FEN ? "position startpos" : `position fen ${s.startFen}`;
    const moves = s.moves.slice(0, n).map((m) => m.lan);
    return moves.length ? `${base} moves ${moves.join(" ")}` : base;
  }

  // --- clocks --------------------------------------------------------------------------------

  function clockLeft(color) {
    if (!s.clocks) return 0;
    const running = s.clocks.running === color ? time.now() - s.clocks.since : 0;
    return s.clocks[color] - running;
  }

  function stopClock() {
    if (flagTimer !== null) time.clearTimeout(flagTimer);
    flagTimer = null;
    if (s.clocks && s.clocks.running) {
      s.clocks[s.clocks.running] = clockLeft(s.clocks.running);
      s.clocks.running = null;
    }
  }

  function runClock(color) {
    if (!s.clocks || s.clocks.running === color) return;
    stopClock();
    if (!color) return;
    s.clocks.running = color;
    s.clocks.since = time.now();
    armFlag();
  }

  function armFlag() {
    flagTimer = time.setTimeout(() => {
      flagTimer = null;
      const color = s.clocks && s.clocks.running;
      if (!color) return;
      if (clockLeft(color) > 0) { armFlag(); return; }
      stopClock();
      s.clocks[color] = 0;
      const winner = other(color);
      const bare = s.chess.board().flat().filter((p) => p && p.color === winner).length === 1;
      s.result = bare ? `1/2-1/2 {${COLOR_NAME[color]} ran out of time, ${COLOR_NAME[winner]} cannot mate}`
                      : `${color === "w" ? "0-1" : "1-0"} {${COLOR_NAME[color]} ran out of time}`;
      s.note = "";
      changed();
    }, Math.max(1, Math.ceil(clockLeft(s.clocks.running))));
  }

  function resetClocks() {
    stopClock();
    const t = tc();
    s.clockStart = t.kind === "clock" ? { w: t.base, b: t.base } : null;
    s.clocks = s.clockStart ? { ...s.clockStart, running: null, since: 0 } : null;
  }

  // The clocks as they were after the game's first n moves.
  function restoreClocks(n) {
    if (!s.clocks) return;
    stopClock();
    const saved = n > 0 ? s.moves[n - 1].clock : null;
    const values = saved || s.clockStart;
    s.clocks.w = values.w;
    s.clocks.b = values.b;
  }

  // --- moves ---------------------------------------------------------------------------------

  // Plays a legal move at the end of the game; returns its record, or null when it is not legal.
  function play(move, by, engine = false, score = null) {
    let played;
    try {
      played = s.chess.move(move);
    } catch {
      return null;
    }
    const atEnd = s.view === s.moves.length;
    let clock = null;
    if (s.clocks) {
      if (!s.analysing) {
        if (s.clocks.running === played.color) stopClock();
        s.clocks[played.color] += tc().inc;
      }
      clock = { w: clockLeft("w"), b: clockLeft("b") };
    }
    const record = { san: played.san, lan: played.lan, from: played.from, to: played.to, color: played.color,
                     fen: s.chess.fen(), by, engine, clock, score };
    s.moves.push(record);
    if (s.redo.length && s.redo[0].lan === record.lan) s.redo.shift();
    else s.redo = [];
    if (atEnd) s.view = s.moves.length;
    s.result = gameResult(s.chess);
    if (s.result) s.analysing = false;
    return record;
  }

  function takeBackTo(n) {
    if (n >= s.moves.length) return;
    while (s.moves.length > n) {
      s.redo.unshift(s.moves.pop());
      s.chess.undo();
    }
    restoreClocks(n);
    s.view = n;
    s.result = gameResult(s.chess);
    if (s.drawOfferedAt > n) s.drawOfferedAt = -1;
  }

  function whyUserMayNotMove() {
    if (s.result) return "The game is over: walk its moves, analyse them, take back or start a new game.";
    if (s.analysing) return null;
    if (s.view < s.moves.length) return "You are looking at an earlier position: End or → brings back the game.";
    if (s.chess.turn() !== s.userColor) return "It is Vorna's move.";
    return null;
  }

  // --- the engine ----------------------------------------------------------------------------

  function wantedJob() {
    if (!uci || s.engine.status !== "ready") return null;
    if (s.analysing) {
      const fen = fenAt(s.view);
      if (new Chess(fen).moves().length === 0) return null;
      return { kind: "analyse", key: `analyse|${positionCommand(s.view)}`, fen, position: positionCommand(s.view), go: "go infinite" };
    }
    if (!s.result && s.chess.turn() !== s.userColor) {
      const position = positionCommand(s.moves.length);
      return { kind: "play", key: `play|${position}|${s.level}|${s.timeControl}`, fen: s.chess.fen(), position, go: goCommand() };
    }
    return null;
  }

  function goCommand() {
    const t = tc(), level = LEVELS[s.level];
    const words = ["go"];
    if (level.depth) words.push(`depth ${level.depth}`);
    if (t.kind === "move") {
      words.push(`movetime ${level.ms ? Math.min(t.ms, level.ms) : t.ms}`);
    } else {
      const left = (c) => Math.max(1, Math.round(clockLeft(c)));
      words.push(`wtime ${left("w")} btime ${left("b")} winc ${t.inc} binc ${t.inc}`);
    }
    return words.join(" ");
  }

  function startJob(want) {
    const job = { ...want, turn: new Chess(want.fen).turn(), ownScore: null, handle: null };
    s.thinking = { fen: want.fen, depth: null, score: null, best: null, nps: null };
    s.job = job;
    job.handle = uci.search(want.position, want.go, (info) => onInfo(job, info), (move, ms) => onBestmove(job, move, ms));
  }

  function onInfo(job, info) {
    if (s.job !== job) return;
    const t = s.thinking;
    if (info.depth !== undefined) t.depth = info.depth;
    if (info.nps !== undefined) t.nps = info.nps;
    const score = whiteSide(info, job.turn);
    if (score) {
      t.score = score;
      s.evaluation = score;
      job.ownScore = info.scoreMate !== undefined ? { mate: info.scoreMate } : { cp: info.scoreCp };
    }
    if (info.pv && info.pv.length) {
      const text = info.pv[0];
      try {
        const m = new Chess(job.fen).move(moveOf(text));
        t.best = { from: m.from, to: m.to, san: m.san, lan: m.lan };
      } catch {
        t.best = { from: text.slice(0, 2), to: text.slice(2, 4), san: text, lan: text };
      }
    }
    notify();
  }

  function onBestmove(job, text, ms) {
    if (s.job !== job) return;
    s.job = null;
    if (job.kind !== "play") { changed(); return; }
    const record = play(moveOf(text), vornaName(), true, job.ownScore);
    if (!record) {
      fail(engineGen, new Error(`it answered "${text}", which is not a legal move here`));
      return;
    }
    s.lastReplyMs = ms;
    s.note = `Vorna played ${record.san} (${(ms / 1000).toFixed(2)} s).`;
    changed();
  }

  async function launch() {
    const gen = ++engineGen;
    if (uci) uci.terminate();
    uci = null;
    s.job = null;
    s.engine = { status: "starting", message: "", name: s.engine.name };
    changed();
    const timer = time.setTimeout(() => fail(gen, new Error(`it did not start within ${START_TIMEOUT_MS / 1000} s`)),
                                  START_TIMEOUT_MS);
    try {
      const engine = await startEngine();
      if (gen !== engineGen) { try { engine.terminate(); } catch { /* gone */ } return; }
      const driver = createUci(engine, log, { time, quietMs: options.quietMs, answerMs: options.answerMs,
                                              onDead: (error) => fail(gen, error) });
      uci = driver;
      await driver.init();
      if (gen !== engineGen) return;
      time.clearTimeout(timer);
      s.engine = { status: "ready", message: "", name: driver.name };
      changed();
    } catch (error) {
      time.clearTimeout(timer);
      fail(gen, error);
    }
  }

  // The engine of start gen has failed: forget it and its search, keep the game.
  function fail(gen, error) {
    if (gen !== engineGen) return;
    engineGen++;
    const started = s.engine.status === "ready";
    if (uci) uci.terminate();
    uci = null;
    s.job = null;
    const reason = error && error.message ? error.message : String(error);
    s.engine = { status: "failed", name: s.engine.name,
                 message: `${started ? "Vorna stopped" : "Vorna could not start"}: ${reason}` };
    changed();
  }

  // --- keeping the game ----------------------------------------------------------------------

  const recordOut = (m) => ({ lan: m.lan, by: m.by, engine: m.engine, clock: m.clock, score: m.score });

  function save() {
    if (!storage) return;
    const data = {
      version: STORAGE_VERSION, startFen: s.startFen, moves: s.moves.map(recordOut), redo: s.redo.map(recordOut),
      userColor: s.userColor, level: s.level, timeControl: s.timeControl, result: s.result, date: s.date,
      tags: s.tags, clockStart: s.clockStart, clocks: s.clocks ? { w: clockLeft("w"), b: clockLeft("b") } : null,
      drawOfferedAt: s.drawOfferedAt,
    };
    try {
      storage.setItem(STORAGE_KEY, JSON.stringify(data));
    } catch {
      if (!s.notice) s.notice = "This browser does not keep the game across a reload (its storage refused it).";
    }
  }

  // Reads a saved game; throws an Error that says what is wrong with it.
  function readSaved(text) {
    const data = JSON.parse(text);
    const need = (ok, what) => { if (!ok) throw new Error(what); };
    need(data && typeof data === "object", "not an object");
    need(data.version === STORAGE_VERSION, `version ${data.version}, this page reads ${STORAGE_VERSION}`);
    const checked = checkFen(String(data.startFen));
    need(!checked.error, `its start position: ${checked.error}`);
    need(data.userColor === "w" || data.userColor === "b", "no side for the user");
    need(Number.isInteger(data.level) && LEVELS[data.level], "no level");
    const t = parseTimeControl(String(data.timeControl));
    need(t, "no time control");
    need(data.result === null || RESULT_RE.test(String(data.result)), "an unknown result");
    need(typeof data.date === "string" && /^[\d?]{4}\.[\d?]{2}\.[\d?]{2}$/.test(data.date), "no date");
    const clockPair = (c) => c && Number.isFinite(c.w) && Number.isFinite(c.b) && c.w >= 0 && c.b >= 0;
    need(t.kind === "move" ? data.clockStart === null && data.clocks === null : clockPair(data.clockStart) && clockPair(data.clocks),
         "clocks that do not fit its time control");
    need(data.tags && typeof data.tags === "object", "no tags");
    const tags = {};
    for (const key of ["Event", "Site", "Round"]) {
      if (data.tags[key] !== undefined) { need(typeof data.tags[key] === "string", `tag ${key}`); tags[key] = data.tags[key]; }
    }
    const chess = new Chess(checked.fen);
    const replay = (list, what) => {
      need(Array.isArray(list) && list.length <= 2000, `no ${what}`);
      return list.map((m, i) => {
        need(m && typeof m.lan === "string" && typeof m.by === "string" && m.by.length <= 100, `${what} ${i + 1} is unreadable`);
        need(m.clock === null || clockPair(m.clock), `${what} ${i + 1} has a bad clock`);
        need(m.score === null || Number.isFinite(m.score?.cp) || Number.isFinite(m.score?.mate), `${what} ${i + 1} has a bad score`);
        let played;
        try { played = chess.move(moveOf(m.lan)); } catch { played = null; }
        need(played && played.lan === m.lan, `${what} ${i + 1} (${m.lan}) is not legal`);
        return { san: played.san, lan: played.lan, from: played.from, to: played.to, color: played.color,
                 fen: chess.fen(), by: m.by, engine: m.engine === true, clock: m.clock, score: m.score };
      });
    };
    const moves = replay(data.moves, "move");
    const played = chess.history().length;
    const redo = replay(data.redo, "taken-back move");
    for (let i = 0; i < redo.length; i++) chess.undo();
    need(chess.history().length === played, "its taken-back moves");
    return { data, t, fen: checked.fen, chess, moves, redo, tags };
  }

  function restore() {
    if (!storage) return;
    let text;
    try {
      text = storage.getItem(STORAGE_KEY);
    } catch {
      s.notice = "This browser does not keep the game across a reload (its storage refused it).";
      return;
    }
    if (text === null || text === undefined) return;
    let saved;
    try {
      saved = readSaved(text);
    } catch (error) {
      try { storage.removeItem(STORAGE_KEY); } catch { /* nothing to drop */ }
      s.notice = `The game kept in this browser could not be read (${error.message}) and was dropped.`;
      return;
    }
    const { data, fen, chess, moves, redo, tags } = saved;
    Object.assign(s, {
      startFen: fen, chess, moves, redo, view: moves.length, userColor: data.userColor, level: data.level,
      timeControl: data.timeControl, result: data.result || gameResult(chess), date: data.date, tags,
      clockStart: data.clockStart, clocks: data.clocks ? { w: data.clocks.w, b: data.clocks.b, running: null, since: 0 } : null,
      drawOfferedAt: Number.isInteger(data.drawOfferedAt) ? data.drawOfferedAt : -1,
    });
    if (moves.length) s.notice = `The game in progress was restored (${moves.length} ${moves.length === 1 ? "move" : "moves"}).`;
  }

  // --- after every change --------------------------------------------------------------------

  // Brings the clocks and the engine in line with the game, keeps it, and tells the page.
  function changed() {
    const runFor = s.clocks && !s.analysing && !s.result && s.moves.length > 0 ? s.chess.turn() : null;
    runClock(runFor);
    const want = wantedJob();
    if (s.job && (!want || want.key !== s.job.key)) {
      s.job.handle.cancel();
      s.job = null;
    }
    if (want && !s.job) startJob(want);
    s.version++;
    save();
    notify();
  }

  function resetGame(fen) {
    if (s.job) { s.job.handle.cancel(); s.job = null; }
    stopClock();
    Object.assign(s, {
      startFen: fen, chess: new Chess(fen), moves: [], redo: [], view: 0, analysing: false, date: today(dateNow()),
      tags: {}, drawOfferedAt: -1, thinking: null, evaluation: null, note: "", notice: "", lastReplyMs: null,
    });
    s.result = gameResult(s.chess);
    resetClocks();
    if (uci) uci.newGame();
  }

  // --- PGN -----------------------------------------------------------------------------------

  function playerName(color) {
    const names = [];
    for (const m of s.moves) if (m.color === color && names.at(-1) !== m.by) names.push(m.by);
    if (names.length) return names.join(", then ");
    return color === s.userColor ? "You" : vornaName();
  }

  function pgn() {
    const c = new Chess(s.startFen);
    for (const m of s.moves) c.move(moveOf(m.lan));
    c.setHeader("Event", s.tags.Event || "Vorna page game");
    c.setHeader("Site", s.tags.Site || "Vorna page");
    c.setHeader("Date", s.date);
    c.setHeader("Round", s.tags.Round || "-");
    c.setHeader("White", playerName("w"));
    c.setHeader("Black", playerName("b"));
    c.setHeader("Result", s.result ? s.result.split(" ")[0] : "*");
    const t = tc();
    if (t.kind === "clock") c.setHeader("TimeControl", `${t.base / 1000}+${t.inc / 1000}`);
    if (s.result) c.setComment(s.result.replace(/^\S+ \{(.*)\}$/, "$1"));
    return c.pgn();
  }

  // --- what the page shows -------------------------------------------------------------------

  // The i-th move of the game as a reader names it: "12. Nf3" or "12... Nc6".
  function moveLabel(i) {
    const number = Number(fenAt(i).split(" ")[5]) || 1;
    return `${number}${s.moves[i].color === "w" ? "." : "..."} ${s.moves[i].san}`;
  }

  function statusOf() {
    const shown = new Chess(fenAt(s.view));
    const turn = COLOR_NAME[shown.turn()];
    const engineDown = s.engine.status === "failed" ? " Vorna is not running: restart it to analyse." : "";
    let text, state;
    if (s.result) {
      state = "over";
      text = `Game over: ${s.result}.`;
    } else if (s.analysing) {
      state = "analysing";
      text = shown.isCheckmate() ? `Analysing: ${turn} is mated here, no moves to analyse.`
           : shown.isStalemate() ? "Analysing: stalemate here, no moves to analyse."
           : `Analysing (${turn} to move). Moves for either side are allowed.${engineDown}`;
    } else if (s.view < s.moves.length) {
      state = "viewing";
      text = `Looking back at ${s.view === 0 ? "the first position" : `the position after ${moveLabel(s.view - 1)}`}; End or → returns to the game.`;
    } else if (s.chess.turn() !== s.userColor) {
      if (s.engine.status === "ready") { state = "thinking"; text = "Vorna is thinking…"; }
      else if (s.engine.status === "starting") { state = "waiting"; text = "Vorna is starting; it plays its move once it runs."; }
      else { state = "waiting"; text = "It is Vorna's move, but Vorna is not running: restart it to play on."; }
    } else {
      state = "user";
      text = `Your move (${turn}).`;
      if (s.clocks && s.clocks.running === s.userColor && clockLeft(s.userColor) < LOW_TIME_MS) text += " Your time is running low.";
    }
    if (!s.result && s.view === s.moves.length && s.chess.isCheck()) text = `Check. ${text}`;
    if (s.note) text = `${s.note} ${text}`;
    return { text, state };
  }

  function view() {
    const fen = fenAt(s.view);
    const shown = new Chess(fen);
    const last = s.view > 0 ? s.moves[s.view - 1] : null;
    const why = whyUserMayNotMove();
    const ready = s.engine.status === "ready";
    const clocks = s.clocks ? {
      w: clockLeft("w"), b: clockLeft("b"), running: s.clocks.running,
      low: { w: clockLeft("w") < LOW_TIME_MS, b: clockLeft("b") < LOW_TIME_MS },
    } : null;
    return {
      fen, turn: shown.turn(), lastMove: last ? { from: last.from, to: last.to } : null,
      startFen: s.startFen, moves: s.moves.map((m) => ({ san: m.san, color: m.color })),
      redo: s.redo.map((m) => ({ san: m.san, color: m.color })), view: s.view, plies: s.moves.length,
      userColor: s.userColor, level: s.level, timeControl: s.timeControl, analysing: s.analysing,
      result: s.result, engine: { ...s.engine }, thinking: s.job && s.job.kind === "play",
      search: s.thinking ? { ...s.thinking } : null, evaluation: s.evaluation, clocks,
      userMayMove: why === null, whyNot: why, status: statusOf(), note: s.note, notice: s.notice,
      lastReplyMs: s.lastReplyMs, version: s.version,
      can: {
        analyse: ready && !s.analysing && shown.moves().length > 0,
        stop: s.analysing,
        takeBack: s.moves.length > 0,
        redo: s.redo.length > 0 && !s.result,
        back: s.view > 0, forward: s.view < s.moves.length,
        resign: !s.result,
        offerDraw: !s.result && !s.analysing && s.drawOfferedAt !== s.moves.length,
        restart: s.engine.status === "failed",
      },
    };
  }

  // --- the page's commands -------------------------------------------------------------------

  return {
    view,
    pgn,
    clockLeft,
    subscribe(f) { listeners.add(f); return () => listeners.delete(f); },

    // Restores a kept game and starts the engine.
    start() {
      restore();
      if (!s.clocks && tc().kind === "clock") resetClocks();
      changed();
      launch();
    },
    restartEngine() { launch(); },
    save,

    // Legal moves from a square for the board's dots: none when the user may not move.
    legalMovesFrom(square) {
      if (whyUserMayNotMove()) return [];
      return new Chess(fenAt(s.view)).moves({ square, verbose: true });
    },

    // A move of the user: { from, to, promotion } or a text (e2e4, Nf3). Returns { ok, reason }.
    userMove(input) {
      const why = whyUserMayNotMove();
      if (why) { s.note = ""; notify(); return { ok: false, reason: why }; }
      const fen = fenAt(s.view);
      const move = typeof input === "string" ? parseMoveText(fen, input) : input;
      const legal = move && new Chess(fen).moves({ verbose: true })
        .find((m) => m.from === move.from && m.to === move.to && (m.promotion || undefined) === (move.promotion || (m.promotion ? "q" : undefined)));
      if (!legal) {
        notify();
        return { ok: false, reason: typeof input === "string" ? `"${input.trim()}" is not a legal move here.` : "That is not a legal move here." };
      }
      if (s.view < s.moves.length) takeBackTo(s.view);
      const record = play({ from: legal.from, to: legal.to, promotion: legal.promotion }, "You");
      s.note = s.notice = "";
      changed();
      return { ok: true, san: record.san };
    },

    takeBack() {
      if (s.moves.length === 0) return;
      let n = s.moves.length - 1;
      if (!s.analysing) while (n > 0 && new Chess(fenAt(n)).turn() !== s.userColor) n--;
      takeBackTo(n);
      s.note = "";
      changed();
    },

    redo() {
      if (!s.redo.length || s.result) return;
      do {
        const record = s.redo.shift();
        s.chess.move(moveOf(record.lan));
        s.moves.push(record);
        if (s.clocks && record.clock) { stopClock(); s.clocks.w = record.clock.w; s.clocks.b = record.clock.b; }
      } while (!s.analysing && s.redo.length && s.chess.turn() !== s.userColor);
      s.view = s.moves.length;
      s.result = gameResult(s.chess);
      if (s.result) s.analysing = false;
      s.note = "";
      changed();
    },

    // Shows another position of the game: a ply count, or "start", "back", "forward", "end".
    walk(to) {
      const n = to === "start" ? 0 : to === "end" ? s.moves.length : to === "back" ? s.view - 1
              : to === "forward" ? s.view + 1 : Number(to);
      const clamped = Math.max(0, Math.min(s.moves.length, Number.isFinite(n) ? Math.trunc(n) : s.view));
      if (clamped === s.view) return;
      s.view = clamped;
      s.note = "";
      changed();
    },

    newGame() {
      resetGame(START_FEN);
      changed();
    },

    // A typed position: { ok } or { ok: false, reason } (the game stays as it was).
    setUpFen(text) {
      const checked = checkFen(text);
      if (checked.error) return { ok: false, reason: checked.error };
      resetGame(checked.fen);
      changed();
      return { ok: true };
    },

    setUserColor(color) {
      if (color !== "w" && color !== "b") return;
      s.userColor = color;
      s.note = "";
      changed();
    },

    setLevel(level) {
      if (!LEVELS[level]) return;
      s.level = Number(level);
      changed();
    },

    // A new time control holds from the next move on; a clock starts afresh.
    setTimeControl(text) {
      if (!parseTimeControl(text)) return;
      s.timeControl = text;
      resetClocks();
      changed();
    },

    analyse() {
      if (s.engine.status !== "ready" || s.analysing) return;
      s.analysing = true;
      s.note = "";
      changed();
    },

    stop() {
      if (!s.analysing) return;
      s.analysing = false;
      s.note = "Analysis stopped.";
      changed();
    },

    resign() {
      if (s.result) return;
      s.analysing = false;
      s.result = `${s.userColor === "w" ? "0-1" : "1-0"} {${COLOR_NAME[s.userColor]} resigns}`;
      s.note = "";
      changed();
    },

    // UCI has no draw offers: the page answers for Vorna from the score of its last move in the game.
    offerDraw() {
      if (s.result || s.analysing || s.drawOfferedAt === s.moves.length) return;
      const last = [...s.moves].reverse().find((m) => m.engine && m.score);
      const score = last ? last.score : null;
      const accepts = score && (score.mate !== undefined ? score.mate < 0 : score.cp <= DRAW_ACCEPT_CP);
      if (accepts) {
        s.result = "1/2-1/2 {draw agreed}";
        s.note = "Vorna accepts the draw.";
      } else {
        s.drawOfferedAt = s.moves.length;
        const own = !score ? "it has not scored a move of this game yet"
          : score.mate !== undefined ? `it sees a mate in ${score.mate}`
          : `it scores its position ${score.cp > 0 ? "+" : ""}${(score.cp / 100).toFixed(2)}`;
        s.note = `Vorna declines the draw: ${own}.`;
      }
      changed();
    },

    // A game as PGN text replaces the current one: { ok } or { ok: false, reason }.
    importPgn(text) {
      const t = String(text).trim();
      if (!t) return { ok: false, reason: "the PGN is empty" };
      const c = new Chess();
      try {
        c.loadPgn(t);
      } catch (error) {
        return { ok: false, reason: pgnError(t, error) };
      }
      const headers = c.getHeaders();
      let fen = START_FEN;
      if (headers.FEN) {
        const checked = checkFen(headers.FEN);
        if (checked.error) return { ok: false, reason: `its position: ${checked.error}` };
        fen = checked.fen;
      }
      const played = c.history({ verbose: true });
      resetGame(fen);
      const name = (color) => {
        const n = headers[COLOR_NAME[color]];
        return n && n !== "?" ? n : COLOR_NAME[color];
      };
      for (const m of played) play({ from: m.from, to: m.to, promotion: m.promotion }, name(m.color));
      for (const m of s.moves) m.clock = null;  // no clock times in the PGN: both clocks start afresh
      resetClocks();
      for (const key of ["Event", "Site", "Round"]) if (headers[key] && headers[key] !== "?") s.tags[key] = headers[key];
      if (headers.Date && /^[\d?]{4}\.[\d?]{2}\.[\d?]{2}$/.test(headers.Date)) s.date = headers.Date;
      if (!s.result && ["1-0", "0-1", "1/2-1/2"].includes(headers.Result)) s.result = `${headers.Result} {as the PGN records}`;
      if (!s.result) s.userColor = s.chess.turn();
      s.view = s.moves.length;
      s.note = `Game imported: ${played.length} ${played.length === 1 ? "move" : "moves"}` +
               (s.result ? "." : `; you play ${COLOR_NAME[s.userColor]} from here.`);
      changed();
      return { ok: true };
    },
  };
}
