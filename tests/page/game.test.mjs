// The page's game (web/src/game.js) in Node: a fake engine, a fake clock, a storage in memory.
import assert from "node:assert/strict";
import { describe, test } from "node:test";
import { createGame, STORAGE_KEY, START_TIMEOUT_MS } from "../../web/src/game.js";
import { fakeEngine, fakeStorage, fakeTime, settle } from "./fakes.mjs";

// A game with its engines: each start of the engine takes the next factory of starts (a fake engine
// by default).
async function setup({ storage = null, starts = [] } = {}) {
  const time = fakeTime();
  const engines = [];
  const startEngine = () => {
    const next = starts.shift();
    if (next) return next();
    const engine = fakeEngine();
    engines.push(engine);
    return Promise.resolve(engine);
  };
  const game = createGame({ startEngine, time, storage, date: () => new Date(2026, 11, 7) });
  game.start();
  await settle();
  return { game, time, engines, engine: () => engines.at(-1) };
}

const sans = (game) => game.view().moves.map((m) => m.san);

// The user's move, then Vorna's reply after ms.
async function exchange({ game, time, engine }, move, reply, ms = 0, info) {
  assert.equal(game.userMove(move).ok, true, `the user's ${move}`);
  await settle();
  await time.advance(ms);
  engine().reply(reply, info);
  await settle();
}

describe("a dead engine", () => {
  test("dies in a search: the page says so, keeps the game, and a restarted engine plays on from there", async () => {
    const t = await setup();
    const { game, engines } = t;
    game.setUserColor("b");
    assert.equal(engines[0].lastGo(), "go movetime 1000");
    engines[0].reply("e2e4");
    await settle();
    assert.equal(game.userMove("e7e5").ok, true);
    await settle();
    assert.equal(game.view().status.state, "thinking");
    engines[0].crash("RuntimeError: memory access out of bounds");
    await settle();
    let v = game.view();
    assert.equal(v.engine.status, "failed");
    assert.equal(v.status.state, "waiting");
    assert.equal(v.engine.message, "Vorna stopped: RuntimeError: memory access out of bounds");
    assert.match(v.status.text, /Vorna's move, but Vorna is not running: restart it/);
    assert.ok(v.can.restart);
    assert.deepEqual(sans(game), ["e4", "e5"]);

    game.restartEngine();
    await settle();
    const second = engines[1];
    assert.deepEqual(second.sent.slice(-2), ["position startpos moves e2e4 e7e5", "go movetime 1000"]);
    second.reply("g1f3");
    await settle();
    v = game.view();
    assert.deepEqual(sans(game), ["e4", "e5", "Nf3"]);
    assert.equal(v.status.state, "user");
    assert.equal(v.engine.status, "ready");
  });

  test("goes silent: probed with isready after 3 s of quiet, dead 5 s later; a long search that answers is left alone", async () => {
    const t = await setup();
    const { game, time } = t;
    game.setTimeControl("move:10000");
    assert.equal(game.userMove("e2e4").ok, true);
    await settle();
    const engine = t.engine();
    const mark = engine.sent.length;
    await time.advance(20000);  // a search that answers the probes: 20 s past its 10 s
    assert.ok(engine.since(mark).filter((l) => l === "isready").length >= 4, "probed while quiet");
    assert.equal(game.view().status.state, "thinking");

    engine.info("info depth 14 score cp 25 time 20000 nodes 90000000 nps 4500000 pv e7e5");
    await settle();
    engine.silent();
    const quiet = engine.sent.length;
    await time.advance(2999);
    assert.equal(game.view().engine.status, "ready");
    await time.advance(1);
    assert.deepEqual(engine.since(quiet), ["isready"]);
    await time.advance(4999);
    assert.equal(game.view().engine.status, "ready");
    await time.advance(1);
    const v = game.view();
    assert.equal(v.engine.status, "failed");
    assert.match(v.engine.message, /^Vorna stopped: Vorna stopped answering/);
    assert.ok(engine.terminated, "the hung worker is ended");
    assert.deepEqual(sans(game), ["e4"]);
  });

  test("does not start (rejected, or never settling): the reason stays after the user's move, and a restart recovers", async () => {
    const t = await setup({ starts: [() => Promise.reject(new Error("the Vorna worker failed to load: no WebAssembly")),
                                     () => new Promise(() => {})] });
    const { game, time } = t;
    let v = game.view();
    assert.equal(v.engine.status, "failed");
    assert.equal(v.engine.message, "Vorna could not start: the Vorna worker failed to load: no WebAssembly");
    assert.equal(game.userMove("e2e4").ok, true);
    v = game.view();
    assert.equal(v.engine.message, "Vorna could not start: the Vorna worker failed to load: no WebAssembly", "the first move keeps the reason");
    assert.ok(v.can.restart);
    assert.equal(v.status.state, "waiting");

    game.restartEngine();          // this start never settles
    await time.advance(START_TIMEOUT_MS - 1);
    assert.equal(game.view().engine.status, "starting");
    await time.advance(1);
    assert.equal(game.view().engine.message, "Vorna could not start: it did not start within 45 s");

    game.restartEngine();
    await settle();
    assert.deepEqual(t.engine().sent.slice(-2), ["position startpos moves e2e4", "go movetime 1000"]);
  });
});

describe("faults found by play", () => {
  test("a mate made during an analysis ends it: no search of the mated position, Stop and Analyse disabled", async () => {
    const t = await setup();
    const { game } = t;
    const engine = t.engine();
    game.setUpFen("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - -");
    game.analyse();
    const mark = engine.sent.length;
    assert.equal(game.userMove("a1a8").ok, true);
    await settle();
    const v = game.view();
    assert.equal(v.result, "1-0 {mate}");
    assert.equal(v.analysing, false);
    assert.equal(v.can.stop, false);
    assert.equal(v.can.analyse, false);
    assert.deepEqual(engine.since(mark).filter((l) => l.startsWith("go")), [], "no search after the mate");
  });

  test("take back after a loss on time gives back the clocks of that move; increments do not pile up", async () => {
    const t = await setup();
    const { game, time } = t;
    game.setTimeControl("clock:60000:1000");
    await exchange(t, "e2e4", "e7e5", 2000);    // White's first move is not timed
    await time.advance(5000);
    await exchange(t, "g1f3", "b8c6", 1000);
    let c = game.view().clocks;
    assert.deepEqual([c.w, c.b], [57000, 59000]);
    await time.advance(57000);
    let v = game.view();
    assert.equal(v.result, "0-1 {White ran out of time}");
    assert.equal(v.clocks.w, 0);

    game.takeBack();                             // Nc6 and Nf3
    v = game.view();
    assert.equal(v.result, null);
    assert.deepEqual(sans(game), ["e4", "e5"]);
    assert.deepEqual([v.clocks.w, v.clocks.b], [61000, 59000], "the clocks after 1... e5");
    await time.advance(5000);
    await exchange(t, "g1f3", "b8c6", 1000);
    c = game.view().clocks;
    assert.deepEqual([c.w, c.b], [57000, 59000], "the same moves at the same pace, the same clocks");
    await time.advance(10000);
    assert.equal(game.view().result, null);
  });

  test("a change of sides mid-game keeps the names of the moves already played in the PGN", async () => {
    const t = await setup();
    const { game, engines } = t;
    await exchange(t, "e2e4", "e7e5");
    game.setUserColor("b");
    engines[0].reply("g1f3");
    await settle();
    assert.equal(game.userMove("b8c6").ok, true);
    const pgn = game.pgn();
    assert.match(pgn, /\[White "You, then Vorna 1\.12 wasm \(level 8\)"\]/);
    assert.match(pgn, /\[Black "Vorna 1\.12 wasm \(level 8\), then You"\]/);
    assert.match(pgn, /1\. e4 e5 2\. Nf3 Nc6 \*/);
  });

  test("the clock starts with the first move and warns below 10 s", async () => {
    const t = await setup();
    const { game, time } = t;
    game.setTimeControl("clock:60000:1000");
    await time.advance(10000);
    let v = game.view();
    assert.deepEqual([v.clocks.w, v.clocks.b, v.clocks.running], [60000, 60000, null], "no clock before the first move");
    await exchange(t, "e2e4", "e7e5", 500);
    await time.advance(51000);
    v = game.view();
    assert.equal(v.clocks.w, 10000);
    assert.equal(v.clocks.low.w, false);
    assert.doesNotMatch(v.status.text, /low/);
    await time.advance(1);
    v = game.view();
    assert.equal(v.clocks.low.w, true);
    assert.match(v.status.text, /Your time is running low/);
  });

  test("a move the board lets through after the flag or on Vorna's turn is refused and the game stays as it was", async () => {
    const t = await setup();
    const { game, time } = t;
    game.setTimeControl("clock:60000:1000");
    assert.equal(game.userMove({ from: "e2", to: "e4" }).ok, true);
    const refused = game.userMove({ from: "d2", to: "d4" });
    assert.deepEqual(refused, { ok: false, reason: "It is Vorna's move." });
    t.engine().reply("e7e5");
    await settle();
    const before = game.view().fen;
    let told = 0;
    game.subscribe(() => told++);
    await time.advance(61000);                   // the user's clock runs out with a piece in hand
    assert.equal(game.view().result, "0-1 {White ran out of time}");
    told = 0;
    const late = game.userMove({ from: "g1", to: "f3" });
    assert.equal(late.ok, false);
    assert.match(late.reason, /The game is over/);
    assert.ok(told > 0, "the page is told to redraw the board");
    assert.equal(game.view().fen, before);
    assert.deepEqual(sans(game), ["e4", "e5"]);
  });
});

describe("what a player expects", () => {
  test("the move list: walking shows earlier positions, analysis follows them, take back and redo", async () => {
    const t = await setup();
    const { game } = t;
    const engine = t.engine();
    await exchange(t, "e2e4", "e7e5");
    await exchange(t, "g1f3", "b8c6");
    game.walk("back");
    let v = game.view();
    assert.equal(v.view, 3);
    assert.equal(v.fen, "rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2");
    assert.deepEqual(v.lastMove, { from: "g1", to: "f3" });
    assert.equal(v.status.state, "viewing");
    assert.match(v.status.text, /^Looking back at the position after 2\. Nf3; End or → returns to the game\.$/);
    assert.equal(game.userMove("f1c4").ok, false, "no move in play at an earlier position");
    game.walk("start");
    assert.equal(game.view().fen.split(" ")[0], "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR");
    game.walk(99);
    assert.equal(game.view().view, 4);

    game.analyse();
    assert.equal(engine.sent.at(-2), "position startpos moves e2e4 e7e5 g1f3 b8c6");
    game.walk("back");
    await settle();
    assert.deepEqual(engine.sent.slice(-3), ["stop", "position startpos moves e2e4 e7e5 g1f3", "go infinite"]);
    assert.equal(game.userMove("g8f6").ok, true, "in analysis a move at the position shown");
    assert.deepEqual(sans(game), ["e4", "e5", "Nf3", "Nf6"]);
    assert.deepEqual(game.view().redo, [], "a different move drops the moves taken back");
    game.stop();

    game.takeBack();
    assert.deepEqual(sans(game), ["e4", "e5"]);
    assert.deepEqual(game.view().redo.map((m) => m.san), ["Nf3", "Nf6"]);
    game.redo();
    assert.deepEqual(sans(game), ["e4", "e5", "Nf3", "Nf6"]);
    assert.equal(game.view().status.state, "user");
  });

  test("a reload restores the game; a kept game that does not read is dropped with a notice", async () => {
    const storage = fakeStorage();
    const t = await setup({ storage });
    t.game.setLevel(3);
    t.game.setTimeControl("clock:180000:2000");
    await exchange(t, "e2e4", "c7c5", 1000);
    t.game.takeBack();
    await settle();
    t.game.redo();

    const again = await setup({ storage });
    let v = again.game.view();
    assert.deepEqual(sans(again.game), ["e4", "c5"]);
    assert.equal(v.level, 3);
    assert.equal(v.timeControl, "clock:180000:2000");
    assert.deepEqual([v.clocks.w, v.clocks.b], [182000, 181000]);
    assert.match(v.notice, /restored \(2 moves\)/);
    assert.equal(v.status.state, "user");

    const saved = JSON.parse(storage.getItem(STORAGE_KEY));
    for (const [broken, why] of [
      ["{ not json", /could not be read \(.*JSON/],
      [JSON.stringify({ ...saved, version: 9 }), /version 9, this page reads 1/],
      [JSON.stringify({ ...saved, moves: [{ ...saved.moves[0], lan: "e2e5" }] }), /move 1 \(e2e5\) is not legal/],
      [JSON.stringify({ ...saved, startFen: "8/8/8/8/8/8/8/8 w - - 0 1" }), /its start position/],
    ]) {
      storage.setItem(STORAGE_KEY, broken);
      const dropped = await setup({ storage });
      v = dropped.game.view();
      assert.match(v.notice, why);
      assert.match(v.notice, /and was dropped/);
      assert.deepEqual(v.moves, []);
      assert.notEqual(storage.getItem(STORAGE_KEY), broken, "the broken game is gone");
    }
  });

  test("PGN import: refused with the reason and the game kept; accepted with its start position, names and result", async () => {
    const t = await setup();
    const { game } = t;
    await exchange(t, "d2d4", "d7d5");
    let r = game.importPgn("1. e4 e5 2. Nf9 Nc6 *");
    assert.equal(r.ok, false);
    assert.equal(r.reason, "it cannot be read from \"Nf9\" on (line 1, column 13)");
    r = game.importPgn('[FEN "4k3/8/8/8/8/8/8/4K3 w K - 0 1"]\n\n*');
    assert.deepEqual(r, { ok: false, reason: "its position: castling right K needs the white king on e1 and a rook on h1" });
    assert.deepEqual(game.importPgn("   "), { ok: false, reason: "the PGN is empty" });
    assert.deepEqual(sans(game), ["d4", "d5"]);

    r = game.importPgn('[White "Anna"]\n[Black "Ben"]\n[FEN "4k3/8/8/8/8/8/4P3/4K3 w - - 0 1"]\n[SetUp "1"]\n\n1. e4 Kd7 *');
    assert.equal(r.ok, true);
    let v = game.view();
    assert.deepEqual(sans(game), ["e4", "Kd7"]);
    assert.equal(v.userColor, "w", "the user plays the side to move");
    assert.equal(v.status.state, "user");
    assert.match(game.pgn(), /\[White "Anna"\][\s\S]*\[Black "Ben"\][\s\S]*\[FEN "4k3\/8\/8\/8\/8\/8\/4P3\/4K3 w - - 0 1"\]/);

    game.importPgn('[Result "0-1"]\n\n1. f3 e5 2. g4 Qh4# 0-1');
    assert.equal(game.view().result, "0-1 {mate}");
    game.importPgn('[Result "1-0"]\n\n1. e4 e5 1-0');
    assert.equal(game.view().result, "1-0 {as the PGN records}");
  });

  test("resign, and a draw offer answered from Vorna's last score", async () => {
    const t = await setup();
    const { game } = t;
    await exchange(t, "e2e4", "e7e5", 0, "info depth 9 score cp 30 time 900 nodes 9000 nps 10000 pv e7e5");
    game.offerDraw();
    let v = game.view();
    assert.equal(v.result, null);
    assert.match(v.note, /Vorna declines the draw: it scores its position \+0\.30/);
    assert.equal(v.can.offerDraw, false, "one offer per move");
    await exchange(t, "d1h5", "g8f6", 0, "info depth 9 score cp -80 time 900 nodes 9000 nps 10000 pv g8f6");
    assert.equal(game.view().can.offerDraw, true);
    game.offerDraw();
    v = game.view();
    assert.equal(v.result, "1/2-1/2 {draw agreed}");
    assert.match(game.pgn(), /\{draw agreed\} 1\/2-1\/2$/);

    game.newGame();
    game.resign();
    assert.equal(game.view().result, "0-1 {White resigns}");
    assert.equal(game.view().can.resign, false);
  });

  test("levels limit the depth and the time of Vorna's moves and are named in the PGN", async () => {
    const t = await setup();
    const { game } = t;
    game.setLevel(2);
    game.setUserColor("b");
    assert.equal(t.engine().lastGo(), "go depth 2 movetime 100");
    t.engine().reply("e2e4");
    await settle();
    assert.match(game.pgn(), /\[White "Vorna 1\.12 wasm \(level 2\)"\]/);
    game.setTimeControl("clock:60000:1000");
    assert.equal(game.userMove("e7e5").ok, true);
    assert.match(t.engine().lastGo(), /^go depth 2 wtime \d+ btime \d+ winc 1000 binc 1000$/);
  });
});
