// The page in a real browser: the built page (build-page/) is opened in each browser (Debian's
// Chromium and Firefox ESR) and each place a page is opened from (support.mjs), and a user plays a game
// against Vorna in it, partly with the mouse on the board and partly with typed moves; then walks the
// move list, takes back, analyses with a move during it and a stop, reloads the page (the game comes
// back), flips the board, imports a PGN (pasted, refused; from a file), refuses a bad FEN and mates from a good one, resigns a new
// game, and looks at it at phone width. The test keeps its own chess.js game from the move list and
// checks every reply of Vorna against it and against the pieces the board shows.
//
// VORNA_PAGE_DIR names the built page (default build-page/), VORNA_PAGE_OUT where the screenshots go
// (default build-test/browser/, beside the page stage's log), VORNA_PLACES the places to open it from
// (default "isolated plain phone file"; "file" opens the single-file vorna.html from disk, the others
// the folder's index.html), VORNA_BROWSERS the browsers (support.mjs).
import assert from "node:assert/strict";
import { test } from "node:test";
import { spawn } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { Chess } from "../../web/node_modules/chess.js/dist/esm/chess.js";
import { browserNames, launchBrowser, openPage, repositoryRoot as root, serveFolder } from "./support.mjs";

const site = resolve(root, process.env.VORNA_PAGE_DIR || "build-page");
const outDir = resolve(root, process.env.VORNA_PAGE_OUT || "build-test/browser");
const places = (process.env.VORNA_PLACES || "isolated plain phone file").split(/[\s,]+/).filter(Boolean);
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
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const IMPORTED = "[Event \"Club game\"]\n[White \"Anna\"]\n[Black \"Ben\"]\n\n" +
                 "1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O Be7 *";

async function scenario(browserName, place) {
  const tag = `${browserName}, ${place}`;
  mkdirSync(outDir, { recursive: true });
  const file = place === "file" ? "vorna.html" : "index.html";
  check(existsSync(join(site, file)), `${site} holds ${file} (tools/build-page.sh)`);
  const server = await serveFolder(site, place);
  const url = server.url;
  const browser = await launchBrowser(browserName);
  const outside = [];
  try {
    const page = await openPage(browser, null);
    page.on("request", (r) => { if (!r.url().startsWith(url) && !/^(data|blob):/.test(r.url())) outside.push(r.url()); });
    page.on("response", (r) => { if (r.status() >= 400) page.problems.push(`${r.status()} ${r.url()}`); });
    const text = (sel) => page.$eval(sel, (e) => e.innerText);
    const value = (sel) => page.$eval(sel, (e) => e.value);
    const waitFor = (fn, arg, timeout = 20000) => page.waitForFunction(fn, { timeout }, arg);
    const click = (sel) => page.$eval(sel, (e) => e.click());
    const shownMoves = () => page.$$eval("#moves button.ply:not(.undone)", (bs) => bs.map((b) => b.innerText.trim()));
    const waitForMoves = (plies, timeout = 20000) => waitFor((n) => document.querySelector("#status").dataset.state !== "thinking" &&
      document.querySelectorAll("#moves button.ply:not(.undone)").length === n, plies, timeout);
    const engineReady = async () => {
      await waitFor(() => document.querySelector("#status").dataset.engine !== "starting", null, 40000);
      if ((await page.$eval("#status", (e) => e.dataset.engine)) !== "ready") {
        assert.fail(`Vorna did not start: ${await text("#engine-problem-text")}`);
      }
    };

    // Load: the board with its 32 pieces within 2 s of the start of navigation.
    await page.goto(url + (place === "file" ? "vorna.html" : ""));
    await waitFor(() => document.querySelectorAll("#board .pieces g[data-square]").length === 32);
    const boardMs = await page.evaluate(() => performance.now());
    check(boardMs < 2000, `board shown ${boardMs.toFixed(0)} ms after loading, within 2000 ms`);
    await engineReady();
    const readyMs = await page.evaluate(() => performance.now());
    console.log(`${tag}: board shown after ${boardMs.toFixed(0)} ms, engine ready after ${readyMs.toFixed(0)} ms (${await text("#engine-name")})`);
    await page.select("#time-control", `move:${MOVE_MS}`);

    let game = new Chess();
    const boardPieces = () => page.evaluate(() => Object.fromEntries(
      [...document.querySelectorAll("#board .pieces g[data-square]")].map((g) =>
        [g.getAttribute("data-square"), g.querySelector("use").getAttribute("href").split("#")[1]])));
    const piecesOf = (chess) => Object.fromEntries(chess.board().flat().filter(Boolean).map((p) => [p.square, p.color + p.type]));
    const boardShows = async (chess = game) => {
      await sleep(250); // the board's animation
      const shown = await boardPieces(), want = piecesOf(chess);
      const same = Object.keys(want).length === Object.keys(shown).length && Object.entries(want).every(([s, p]) => shown[s] === p);
      if (!same) console.log(`board shows ${JSON.stringify(shown)}\nexpected ${JSON.stringify(want)}`);
      return same;
    };

    const center = async (square) => {
      const box = await (await page.$(`#board rect[data-square="${square}"]`)).boundingBox();
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
    // Typed into the move field, which must still have the focus from the last typed move.
    const typeMove = async (move, { focus = false } = {}) => {
      if (focus) await page.click("#move-input");
      const focused = await page.evaluate(() => document.activeElement && document.activeElement.id);
      check(focused === "move-input", `the move field has the keyboard's focus before ${move} (it is on ${focused || "the page"})`);
      await page.keyboard.type(move);
      await page.keyboard.press("Enter");
    };

    // The user's moves: three by pointer (clicks, a drag, clicks), then typed; chosen by the native
    // program (0.2 s a move) so that the game lasts, or where there is none by a two-ply material count.
    const worth = { p: 1, n: 3, b: 3, r: 5, q: 9, k: 0 };
    const material = (g) => g.board().flat().filter(Boolean).reduce((s, p) => s + (p.color === "w" ? 1 : -1) * worth[p.type], 0);
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
      else await typeMove(move.lan, { focus: n === opening.length });
      if (n < opening.length) pointerMoves++;
      game.move(move);
      await waitForMoves(game.history().length + (game.isGameOver() ? 0 : 1), MOVE_MS + 10000);
      shownAfter.push(Date.now() - t0);
      if (game.isGameOver()) break;
      const reply = (await shownMoves())[game.history().length];
      let played = null;
      try { played = game.move(reply); } catch { played = null; }
      check(played !== null, `Vorna's reply ${reply} after ${game.history().join(" ")} is legal`);
      check(await boardShows(), `the board shows the position after ${reply}`);
      latencies.push(Number(await page.$eval("#status", (e) => e.dataset.replyMs)));
    }
    if (native) native.quit();
    const plies = game.history().length;
    console.log(`${tag}: game of ${plies} plies, ${pointerMoves} user moves by pointer: ${game.history().join(" ")}`);
    check(plies >= 2 * FULL_MOVES || game.isGameOver(), `a game of ${FULL_MOVES} moves or to its end`);
    check(pointerMoves === 3, "three moves made with the mouse on the board");
    console.log(`${tag}: Vorna's replies, "go" to "bestmove": median ${median(latencies)} ms, max ${Math.max(...latencies)} ms` +
                ` (${MOVE_MS} ms a move); user's move to reply on the board: median ${median(shownAfter)} ms, max ${Math.max(...shownAfter)} ms`);
    check(Math.max(...latencies) <= MOVE_MS + LATE_MS, `every reply within ${MOVE_MS} + ${LATE_MS} ms`);
    check((await value("#pgn")).includes(`1. ${game.history()[0]} ${game.history()[1]}`), "the PGN holds the game");
    await page.click("#copy-pgn");
    await waitFor(() => document.querySelector("#pgn-message").innerText.length > 0, null, 5000);
    console.log(`${tag}: Copy PGN: ${await text("#pgn-message")}`);

    // The move list: the arrow keys (also from the empty move field), a click on a move, Home and End
    // walk through the game; the board and the FEN field follow, the game stays.
    {
      const history = game.history({ verbose: true });
      const at = (n) => { const c = new Chess(); history.slice(0, n).forEach((m) => c.move(m)); return c; };
      const shows = async (n, how) => {
        const [current, inView] = await page.$eval("#moves button[aria-current]", (b) => {
          const list = b.closest("#moves").getBoundingClientRect(), box = b.getBoundingClientRect();
          return [Number(b.dataset.ply), box.top >= list.top && box.bottom <= list.bottom];
        }).catch(() => [0, true]);
        check(current === n && await boardShows(at(n)) && (await value("#fen-input")) === at(n).fen(),
              `${how}: the list, the board and the FEN show the position after ${n} plies (the list marks ${current})`);
        check(inView, `${how}: the move marked is in view in the list`);
      };
      await page.click("#move-input");
      await page.keyboard.press("ArrowLeft");   // in the empty move field
      await shows(plies - 1, "← in the move field");
      check((await page.$eval("#status", (e) => e.dataset.state)) === "viewing", "walking back is looking, not taking back");
      await page.click('#moves button.ply[data-ply="4"]');
      await shows(4, "a click on the 4th move");
      await page.keyboard.press("ArrowLeft");
      await shows(3, "←");
      await page.keyboard.press("Home");
      await page.waitForFunction(() => !document.querySelector("#moves button[aria-current]"), { timeout: 5000 });
      check(await boardShows(at(0)), "Home: the first position");
      await page.keyboard.press("ArrowRight");
      await shows(1, "→");
      await page.keyboard.press("End");
      await shows(plies, "End");
      check((await shownMoves()).length === plies, "walking keeps every move");
    }

    // Take back: back to the user's last turn (Vorna's reply and the user's move); Redo brings them back.
    {
      const before = (await shownMoves()).length;
      await click("#take-back");
      const undone = [game.undo()];
      if (game.turn() !== "w") undone.unshift(game.undo());
      const after = (await shownMoves()).length;
      check(after === game.history().length, `take back removes the last plies from the list (${before} then ${after})`);
      check(await boardShows(), "take back removes them from the board");
      await click("#redo");
      undone.forEach((m) => game.move(m));
      check((await shownMoves()).length === before && await boardShows(), "redo plays them again");
      await click("#take-back");
      game.undo();
      if (game.turn() !== "w") game.undo();
      await waitForMoves(game.history().length);
    }

    // Analysis: live thinking lines, the best move as an arrow, then "stop" ends it at once.
    {
      await page.click("#protocol summary");
      await click("#analyse");
      await waitFor(() => Number(document.querySelector("#an-depth").innerText) >= 2, null, 10000);
      await sleep(1000);
      const depth = await text("#an-depth"), score = await text("#an-score"), best = await text("#an-best"), nps = await text("#an-nps");
      console.log(`${tag}: analysis after 1 s: depth ${depth}, score ${score}, best ${best}, ${nps} nodes/s`);
      check(/^[+-]?\d+\.\d\d$|mates in/.test(score) && /\d/.test(nps) && best !== "–", "analysis shows score, best move and speed");
      const arrow = await page.$eval("#board g[data-arrow]", (g) => g.getAttribute("data-arrow")).catch(() => null);
      check(arrow && best.includes(arrow.slice(0, 2)) && best.includes(arrow.slice(2, 4)), `the best move ${best} is drawn as an arrow (${arrow})`);
      const [bar, shown] = await page.evaluate(() => [document.querySelector("#eval-bar").getAttribute("aria-label"),
                                                        document.querySelector("#an-score").innerText]);
      check(bar.includes(shown), `the evaluation bar shows the score (${bar}, ${shown})`);
      await page.screenshot({ path: join(outDir, `page-desktop-${browserName}-${place}.png`), fullPage: true });
      // A move during the analysis starts it again on the new position, Black to move.
      const move = chooseMove();
      await typeMove(move.lan, { focus: true });
      game.move(move);
      await waitFor((plies) => document.querySelectorAll("#moves button.ply:not(.undone)").length === plies &&
        Number(document.querySelector("#an-depth").innerText) >= 2, game.history().length, 10000);
      // Clicked in the page, timed there: from the click to the "bestmove" line in the panel.
      const stopMs = Math.round(await page.evaluate(() => new Promise((resolve) => {
        const panel = document.querySelector("#protocol-lines");
        const answered = () => {
          const lines = panel.textContent.split("\n");
          return lines.slice(lines.lastIndexOf("> stop")).some((l) => l.startsWith("bestmove"));
        };
        const clickedAt = performance.now();
        const watch = new MutationObserver(() => {
          if (answered()) { watch.disconnect(); resolve(performance.now() - clickedAt); }
        });
        watch.observe(panel, { childList: true, characterData: true, subtree: true });
        document.querySelector("#stop").click();
        setTimeout(() => { watch.disconnect(); resolve(Infinity); }, 10000);
      })));
      console.log(`${tag}: "stop" answered by "bestmove" after ${stopMs} ms`);
      check(stopMs < 1000, "stop ends the analysis at once");
      const lines = (await text("#protocol-lines")).split("\n");
      check(lines.includes("> go infinite") && lines.includes("> stop"), "the protocol panel shows the lines sent");
      check((await page.$$("#board g[data-arrow]")).length === 0, "no arrow once the analysis has stopped");
      // Stopped with Black to move, the game goes on: Vorna plays Black's move.
      await waitFor((plies) => document.querySelector("#status").dataset.state === "user" &&
        document.querySelectorAll("#moves button.ply:not(.undone)").length === plies, game.history().length + 1, 5000);
      const reply = (await shownMoves())[game.history().length];
      let played = null;
      try { played = game.move(reply); } catch { played = null; }
      check(played !== null && await boardShows() && await page.$eval("#stop", (b) => b.disabled),
            "after stop the game goes on: Vorna answers the move made during the analysis");
    }

    // Reload: the game comes back, with the time control and the move list, and goes on.
    {
      await page.reload();
      await waitFor(() => document.querySelectorAll("#board .pieces g[data-square]").length > 0);
      await engineReady();
      check((await shownMoves()).join(" ") === game.history().join(" "), "the move list after a reload is the game's");
      check(await boardShows(), "the board after a reload shows the game's position");
      check(/restored/.test(await text("#notice")), `the page says it restored the game (${await text("#notice")})`);
      check((await value("#time-control")) === `move:${MOVE_MS}`, "the time control is kept");
      const move = chooseMove();
      await typeMove(move.lan, { focus: true });
      game.move(move);
      await waitForMoves(game.history().length + 1);
      game.move((await shownMoves())[game.history().length]);
      check(await boardShows(), "after the reload Vorna answers the next move");
    }

    // Flip: a1 goes to the top.
    const a1 = async () => (await (await page.$('#board rect[data-square="a1"]')).boundingBox()).y;
    const low = await a1();
    await click("#flip");
    await sleep(400);
    check((await a1()) < low, "flip board puts White at the top");
    await click("#flip");

    // PGN import: a refused text says why and keeps the game; a good file replaces it.
    {
      const kept = await shownMoves();
      await page.click("#import summary");
      await page.$eval("#import-text", (e) => { e.value = "1. e4 e5 2. Nf9 *"; });
      await click("#import-pgn");
      const refused = await text("#import-message");
      console.log(`${tag}: refused PGN: ${refused}`);
      check(/not imported: it cannot be read from "Nf9"/.test(refused), "a bad PGN is refused with the reason");
      check((await shownMoves()).join() === kept.join() && await boardShows(), "a refused PGN leaves the game");
      // The good one from a file, as a user picks it.
      const pgnFile = join(mkdtempSync(join(tmpdir(), "vorna-page-")), "club-game.pgn");
      writeFileSync(pgnFile, IMPORTED);
      await (await page.$("#import-file")).uploadFile(pgnFile);
      game = new Chess();
      game.loadPgn(IMPORTED);
      await waitForMoves(game.history().length, 5000);
      check((await shownMoves()).join(" ") === game.history().join(" ") && await boardShows(), "the game imported from a file is shown");
      rmSync(dirname(pgnFile), { recursive: true });
      check((await value("#pgn")).includes('[White "Anna"]') && (await text("#status")).includes("Your move (White)"),
            "the PGN keeps the names; the user plays the side to move");
    }

    // A bad FEN is refused with a message and the game stays; a good one is set up and played to mate.
    {
      const setFen = async (fen) => {
        await page.$eval("#fen-input", (e) => { e.value = ""; e.focus(); });
        await page.keyboard.type(fen);
        await page.keyboard.press("Enter");
      };
      const kept = await shownMoves();
      await setFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w KQkq - 0 1");
      const message = await text("#fen-message");
      console.log(`${tag}: bad FEN: ${message}`);
      check(/Bad FEN/.test(message) && (await shownMoves()).join() === kept.join() && await boardShows(), "a bad FEN gets a message and the game is kept");
      await setFen("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - -");
      game.load("6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1");
      check((await text("#fen-message")) === "" && (await shownMoves()).length === 0 && await boardShows(), "a good FEN is set up");
      await waitFor(() => document.querySelector("#status").dataset.state === "user");
      await typeMove("a1a8", { focus: true });
      await waitFor(() => document.querySelector("#status").dataset.state === "over");
      check((await text("#status")).includes("1-0 {mate}"), "mate ends the game with its result");
    }

    // Resign: a new game, one move each, then Resign (asked twice).
    {
      await click("#new-game");
      await typeMove("d2d4", { focus: true });
      await waitForMoves(2);
      await click("#resign");
      check((await text("#resign")).includes("sure"), "Resign asks once more");
      await click("#resign");
      await waitFor(() => document.querySelector("#status").dataset.state === "over");
      check((await text("#status")).includes("0-1 {White resigns}") && (await value("#pgn")).includes("{White resigns} 0-1"),
            "resigning ends the game, and the PGN says so");
    }

    // Phone width.
    {
      await page.setViewport({ width: 390, height: 844 });
      await sleep(300);
      const boardBox = await (await page.$("#board")).boundingBox();
      console.log(`${tag}: phone: board ${boardBox.width.toFixed(0)} px wide at x ${boardBox.x.toFixed(0)}`);
      check(boardBox.width > 300 && boardBox.x + boardBox.width <= 390, "on a phone the board fills the width");
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth);
      check(overflow <= 390, `on a phone nothing sticks out sideways (${overflow} px)`);
      await page.screenshot({ path: join(outDir, `page-phone-${browserName}-${place}.png`), fullPage: true });
    }

    check(outside.length === 0, `no request outside the page's folder (${outside.join(", ")})`);
    check(page.problems.length === 0, `no errors in the page (${page.problems.join(" | ")})`);
  } finally {
    await browser.close();
    await server.close();
  }
}

for (const browserName of browserNames) {
  for (const place of places) {
    test(`${browserName}, ${place}: a game, the move list, take-back, analysis, reload, PGN import, FEN setup, resign, phone width`,
         { timeout: 240000 }, () => scenario(browserName, place));
  }
}
