// The page in a real browser: headless Chromium (Debian's) loads the built page (build-page/) from a
// local server and a user plays a game against Vorna in it, partly with the mouse on the board and
// partly with typed moves; then a take-back, analysis with a move during it and a stop, a flip, a bad
// and a good FEN, phone width. The test keeps its own chess.js game from the move list and checks every
// reply of Vorna against it and against the pieces the board shows.
//
// VORNA_PAGE_DIR names the built page (default build-page/), VORNA_PAGE_OUT where the screenshots go
// (default build-test/browser/, beside the page stage's log).
import assert from "node:assert/strict";
import { test } from "node:test";
import { spawn } from "node:child_process";
import { mkdirSync, existsSync } from "node:fs";
import { join, resolve } from "node:path";
import { Chess } from "../../web/node_modules/chess.js/dist/esm/chess.js";
import { launchChromium, repositoryRoot as root, serveFolder } from "./support.mjs";

const site = resolve(root, process.env.VORNA_PAGE_DIR || "build-page");
const outDir = resolve(root, process.env.VORNA_PAGE_OUT || "build-test/browser");
const MOVE_MS = 500;          // the page's fastest time per move
const LATE_MS = 200;          // how much later than its time Vorna's reply may come
const FULL_MOVES = 20;        // the game goes on at least this long (both sides), unless it ends

// The native program over UCI, for the user's moves: think(moves) leaves its choice in reply.
function nativeVorna() {
  const path = [process.env.VORNA_PROGRAM, join(root, "build-test/Vorna_1_12_x64"), join(root, "build/Vorna_1_12_x64")]
    .find((p) => p && existsSync(p));
  if (!path) return null;
  const child = spawn(path, [], { cwd: outDir, stdio: ["pipe", "pipe", "inherit"] });
  let text = "", waiter = null;
  const engine = { reply: "" };
  child.stdout.on("data", (data) => {
    text += data;
    for (let i; (i = text.indexOf("\n")) >= 0; text = text.slice(i + 1)) {
      const line = text.slice(0, i).trim();
      if (line.startsWith("bestmove") && waiter) { engine.reply = line.split(/\s+/)[1]; waiter(); waiter = null; }
    }
  });
  child.stdin.write("uci\n");
  engine.think = (moves) => new Promise((done) => {
    waiter = done;
    child.stdin.write(`position startpos moves ${moves.join(" ")}\ngo movetime 200\n`);
  });
  engine.quit = () => child.stdin.end("quit\n");
  console.log(`the user's moves after the opening come from ${path}`);
  return engine;
}

const check = (condition, what) => assert.ok(condition, what);

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

test("a game, analysis, take-back, FEN setup and phone width on the built page", { timeout: 170000 }, async () => {
  mkdirSync(outDir, { recursive: true });
  check(existsSync(join(site, "index.html")) && existsSync(join(site, "vorna-engine.js")), `${site} holds the built page (tools/build-page.sh)`);
  const server = await serveFolder(site);
  const url = server.url;
  const browser = await launchChromium();
  const outside = [];
  const errors = [];
  try {
    const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
    page.on("request", (r) => { if (!r.url().startsWith(url)) outside.push(r.url()); });
    page.on("pageerror", (e) => errors.push(String(e)));
    page.on("response", (r) => { if (r.status() >= 400) errors.push(`${r.status()} ${r.url()}`); });
    page.on("console", (m) => { if (m.type() === "error") errors.push(m.text()); });
    const $text = (sel) => page.locator(sel).innerText();
    const state = () => page.locator("#status").getAttribute("data-state");

    // Load: the board with its 32 pieces within 2 s of the start of navigation.
    await page.goto(url);
    await page.waitForFunction(() => document.querySelectorAll("#board .pieces g[data-square]").length === 32);
    const boardMs = await page.evaluate(() => performance.now());
    check(boardMs < 2000, `board shown ${boardMs.toFixed(0)} ms after loading, within 2000 ms`);
    await page.waitForFunction(() => document.querySelector("#status").dataset.state === "user", null, { timeout: 20000 });
    const readyMs = await page.evaluate(() => performance.now());
    const engineName = await $text("#engine-name");
    console.log(`board shown after ${boardMs.toFixed(0)} ms, engine ready after ${readyMs.toFixed(0)} ms (${engineName})`);
    await page.selectOption("#time-control", `move:${MOVE_MS}`);

    const game = new Chess();
    const boardPieces = () => page.evaluate(() => Object.fromEntries(
      [...document.querySelectorAll("#board .pieces g[data-square]")].map((g) =>
        [g.getAttribute("data-square"), g.querySelector("use").getAttribute("href").split("#")[1]])));
    const expectPieces = () => Object.fromEntries(game.board().flat().filter(Boolean).map((p) => [p.square, p.color + p.type]));
    const sameBoard = async () => {
      await page.waitForTimeout(200); // the board's animation
      const shown = await boardPieces(), want = expectPieces();
      const same = Object.keys(want).length === Object.keys(shown).length && Object.entries(want).every(([s, p]) => shown[s] === p);
      if (!same) console.log(`board shows ${JSON.stringify(shown)}\nexpected ${JSON.stringify(want)}`);
      return same;
    };
    const shownMoves = async () => (await page.locator("#moves li").allInnerTexts()).join(" ").split(/\s+/).filter((t) => t && t !== "…");

    const center = async (square) => {
      const box = await page.locator(`#board rect[data-square="${square}"]`).boundingBox();
      return [box.x + box.width / 2, box.y + box.height / 2];
    };
    const clickMove = async (from, to) => {
      await page.mouse.click(...(await center(from)));
      await page.mouse.click(...(await center(to)));
    };
    const dragMove = async (from, to) => {
      const [x0, y0] = await center(from), [x1, y1] = await center(to);
      await page.mouse.move(x0, y0);
      await page.mouse.down();
      await page.mouse.move((x0 + x1) / 2, (y0 + y1) / 2, { steps: 4 });
      await page.mouse.move(x1, y1, { steps: 4 });
      await page.mouse.up();
    };
    const typeMove = async (text) => {
      await page.locator("#move-input").focus();
      await page.keyboard.type(text);
      await page.keyboard.press("Enter");
    };

    // The user's moves: three by pointer (clicks, a drag, clicks), then typed; chosen by the native
    // program (0.2 s a move) so that the game lasts, or where there is none by a two-ply material count.
    const value = { p: 1, n: 3, b: 3, r: 5, q: 9, k: 0 };
    const material = (g) => g.board().flat().filter(Boolean).reduce((s, p) => s + (p.color === "w" ? 1 : -1) * value[p.type], 0);
    const chooseMove = () => {
      let best = null, bestScore = -Infinity;
      for (const m of game.moves({ verbose: true })) {
        const g = new Chess(game.fen());
        g.move(m);
        let worst = Infinity;
        if (g.isCheckmate()) worst = 1000;
        for (const r of g.moves({ verbose: true })) {
          const h = new Chess(g.fen());
          h.move(r);
          worst = Math.min(worst, h.isCheckmate() ? -1000 : material(h));
        }
        if (worst === Infinity) worst = g.isStalemate() ? 0 : material(g);
        const score = worst + Math.random() * 0.1;
        if (score > bestScore) { bestScore = score; best = m; }
      }
      return best;
    };
    const opening = [["e2", "e4"], ["g1", "f3"], ["f1", "c4"]];

    const native = nativeVorna();
    const latencies = [], shownAfter = [];
    let pointerMoves = 0;
    for (let n = 0; n < FULL_MOVES && !game.isGameOver(); n++) {
      if (native && n >= opening.length) await native.think(game.history({ verbose: true }).map((m) => m.lan));
      const planned = n < opening.length ? game.moves({ verbose: true }).find((m) => m.from === opening[n][0] && m.to === opening[n][1]) : null;
      const move = planned || (native ? game.moves({ verbose: true }).find((m) => m.lan === native.reply) : null) || chooseMove();
      const t0 = Date.now();
      if (n === 1) await dragMove(move.from, move.to);
      else if (n < opening.length) await clickMove(move.from, move.to);
      else await typeMove(move.lan);
      if (n < opening.length) pointerMoves++;
      game.move(move);
      await page.waitForFunction((plies) => document.querySelectorAll("#moves li").length > 0 &&
        document.querySelector("#status").dataset.state !== "thinking" &&
        [...document.querySelectorAll("#moves li")].map((li) => li.innerText).join(" ").split(/\s+/).filter(Boolean).length >= plies,
        game.history().length + (game.isGameOver() ? 0 : 1), { timeout: MOVE_MS + 5000 });
      shownAfter.push(Date.now() - t0);
      const moves = await shownMoves();
      if (game.isGameOver()) break;
      const reply = moves[game.history().length];
      let played = null;
      try { played = game.move(reply); } catch { played = null; }
      check(played !== null, `Vorna's reply ${reply} after ${game.history().join(" ")} is legal`);
      check(await sameBoard(), `the board shows the position after ${reply}`);
      latencies.push(Number(await page.locator("#status").getAttribute("data-reply-ms")));
    }
    if (native) native.quit();
    const plies = game.history().length;
    console.log(`game: ${plies} plies, ${pointerMoves} user moves by pointer: ${game.history().join(" ")}`);
    check(plies >= 2 * FULL_MOVES || game.isGameOver(), `a game of ${FULL_MOVES} moves or to its end`);
    check(pointerMoves === 3, "three moves made with the mouse on the board");
    console.log(`Vorna's replies, "go" to "bestmove": median ${median(latencies)} ms, max ${Math.max(...latencies)} ms` +
                ` (${MOVE_MS} ms a move); user's move to reply on the board: median ${median(shownAfter)} ms, max ${Math.max(...shownAfter)} ms`);
    check(Math.max(...latencies) <= MOVE_MS + LATE_MS, `every reply within ${MOVE_MS} + ${LATE_MS} ms`);
    check((await page.locator("#pgn").inputValue()).includes(`1. ${game.history()[0]} ${game.history()[1]}`), "the PGN holds the game");
    await page.locator("#copy-pgn").click();
    await page.waitForFunction(() => document.querySelector("#pgn-message").innerText.length > 0, null, { timeout: 5000 });
    check(true, "copying the PGN says what happened");

    // Take back: back to the user's last turn (Vorna's reply and the user's move).
    const before = (await shownMoves()).length;
    await page.locator("#take-back").click();
    game.undo();
    if (game.turn() !== "w") game.undo();
    const after = (await shownMoves()).length;
    check(after === game.history().length, `take back removes the last plies from the list (${before} then ${after})`);
    check(await sameBoard(), "take back removes them from the board");

    // Analysis: live thinking lines, then "stop" ends it at once.
    {
      await page.locator("#protocol summary").click();
      await page.locator("#analyse").click();
      await page.waitForFunction(() => Number(document.querySelector("#an-depth").innerText) >= 2, null, { timeout: 10000 });
      await page.waitForTimeout(1000);
      const depth = await $text("#an-depth"), score = await $text("#an-score"), best = await $text("#an-best"), nps = await $text("#an-nps");
      console.log(`analysis after 1 s: depth ${depth}, score ${score}, best ${best}, ${nps} nodes/s`);
      check(/^[+-]?\d+\.\d\d$|mates in/.test(score) && /\d/.test(nps) && best !== "–", "analysis shows score, best move and speed");
      await page.screenshot({ path: join(outDir, "page-desktop.png"), fullPage: true });
      // A move during the analysis starts it again on the new position, Black to move.
      const move = chooseMove();
      await typeMove(move.lan);
      game.move(move);
      await page.waitForFunction((plies) => document.querySelectorAll("#moves li").length > 0 &&
        [...document.querySelectorAll("#moves li")].map((li) => li.innerText).join(" ").split(/\s+/).filter(Boolean).length === plies &&
        Number(document.querySelector("#an-depth").innerText) >= 2, game.history().length, { timeout: 10000 });
      const lines = async () => (await $text("#protocol-lines")).split("\n");
      // Clicked in the page, timed there: from the click to the "bestmove" line in the panel.
      const clickedAt = await page.evaluate(() => { const t = performance.now(); document.querySelector("#stop").click(); return t; });
      const answeredAt = await page.waitForFunction(() => {
        const lines = document.querySelector("#protocol-lines").innerText.split("\n");
        return lines.slice(lines.lastIndexOf("> stop")).some((l) => l.startsWith("bestmove")) && performance.now();
      }, null, { polling: "raf" });
      const stopMs = Math.round((await answeredAt.jsonValue()) - clickedAt);
      console.log(`"stop" answered by "bestmove" after ${stopMs} ms`);
      check(stopMs < 1000, "stop ends the analysis at once");
      check((await lines()).some((l) => l === "> go infinite") && (await lines()).some((l) => l === "> stop"), "the protocol panel shows the lines sent");
      // Stopped with Black to move, the game goes on: Vorna plays Black's move.
      await page.waitForFunction((plies) => document.querySelector("#status").dataset.state === "user" &&
        [...document.querySelectorAll("#moves li")].map((li) => li.innerText).join(" ").split(/\s+/).filter(Boolean).length === plies,
        game.history().length + 1, { timeout: 5000 });
      const reply = (await shownMoves())[game.history().length];
      let played = null;
      try { played = game.move(reply); } catch { played = null; }
      check(played !== null && await sameBoard() && (await page.locator("#stop").isDisabled()), "after stop the game goes on: Vorna answers the move made during the analysis");
    }

    // Flip: a1 goes to the top.
    const a1 = async () => (await page.locator('#board rect[data-square="a1"]').boundingBox()).y;
    const low = await a1();
    await page.locator("#flip").click();
    await page.waitForTimeout(400);
    check((await a1()) < low, "flip board puts White at the top");
    await page.locator("#flip").click();

    // A bad FEN is refused with a message and the game stays; a good one is set up and played to mate.
    const kept = await shownMoves();
    await page.locator("#fen-input").fill("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w KQkq - 0 1");
    await page.locator("#fen-input").press("Enter");
    const message = await $text("#fen-message");
    console.log(`bad FEN: ${message}`);
    check(/Bad FEN/.test(message) && (await shownMoves()).join() === kept.join() && await sameBoard(), "a bad FEN gets a message and the game is kept");
    await page.locator("#fen-input").fill("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - -");
    await page.locator("#fen-input").press("Enter");
    game.load("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1");
    check((await $text("#fen-message")) === "" && (await shownMoves()).length === 0 && await sameBoard(), "a good FEN is set up");
    await page.waitForFunction(() => document.querySelector("#status").dataset.state === "user");
    await typeMove("a1a8");
    await page.waitForFunction(() => document.querySelector("#status").dataset.state === "over");
    check((await $text("#status")).includes("1-0 {mate}"), "mate ends the game with its result");

    // Phone width.
    await page.setViewportSize({ width: 390, height: 844 });
    await page.waitForTimeout(300);
    const boardBox = await page.locator("#board").boundingBox();
    console.log(`phone: board ${boardBox.width.toFixed(0)} px wide at x ${boardBox.x.toFixed(0)}`);
    check(boardBox.width > 300 && boardBox.x + boardBox.width <= 390, "on a phone the board fills the width");
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth);
    check(overflow <= 390, "on a phone nothing sticks out sideways");
    await page.screenshot({ path: join(outDir, "page-phone.png"), fullPage: true });

    check(outside.length === 0, `no request outside the page's folder (${outside.join(", ")})`);
    check(errors.length === 0, `no errors in the page (${errors.join(" | ")})`);
  } finally {
    await browser.close();
    await server.close();
  }
  console.log(`screenshots in ${outDir}`);
});
