// The UCI driver (web/src/uci.js) against a fake engine.
import assert from "node:assert/strict";
import { test } from "node:test";
import { createUci } from "../../web/src/uci.js";
import { fakeEngine, settle } from "./fakes.mjs";

test("ucinewgame asked for while a cancelled search winds down is sent after its bestmove, before the next position", async () => {
  const engine = fakeEngine();
  const uci = createUci(engine);
  await uci.init();
  const start = engine.sent.length;
  // New game during an analysis: the analysis is stopped, the new game has nothing to search.
  uci.search("position startpos moves e2e4", "go infinite", () => {}, () => {}).cancel();
  uci.newGame();
  await settle();
  // A position set up during an analysis, with Vorna to move: a search waits for the bestmove too.
  uci.search("position startpos", "go infinite", () => {}, () => {}).cancel();
  uci.newGame();
  uci.search("position fen 4k3/8/8/8/8/8/4P3/4K3 b - - 0 1", "go movetime 1000", () => {}, () => {});
  await settle();
  assert.deepEqual(engine.since(start), [
    "position startpos moves e2e4", "go infinite", "stop", "ucinewgame",
    "position startpos", "go infinite", "stop", "ucinewgame", "position fen 4k3/8/8/8/8/8/4P3/4K3 b - - 0 1", "go movetime 1000",
  ]);
  uci.terminate();
});
