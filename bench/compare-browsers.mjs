// One measurement of bench/compare-browsers.sh: the engine on one side, over UCI, on one workload.
//
//   node bench/compare-browsers.mjs SIDE KIND
//
// SIDE   native              the native program (VORNA_NATIVE, default build/Vorna_1_12_x64)
//        node-shm, node-msg  the Node program (build-web/vorna.js) on its shared-memory input or on its
//                            input as messages (VORNA_WASM_INPUT=messages)
//        chromium-isolated, chromium-plain, firefox-isolated, firefox-plain
//                            the engine in a Web Worker started by a page with startVorna(), the page
//                            cross-origin isolated (shared-memory input) or served without the headers
//                            (input as messages), as tests/browser/support.mjs serves them
// KIND   game     one engine, left idle for a while after it has started (VORNA_IDLE_MS, default 1500
//                 ms), as a page leaves it while the person looks at the board; then a warm-up search
//                 (not timed), then the positions of one game searched to depth 8 one after another,
//                 its tables kept between them, as in a game on a page
//        search   the 20 positions of bench/bench.cpp to depth 8, each in a fresh engine (fresh tables:
//                 "ucinewgame" clears nothing, the table lives as long as the engine)
//
// Each search is timed from "go" to "bestmove" by the side's host (the page, or this script for a
// program it runs). Prints "ms <total>", then "search <ms> <nodes> <bestmove>" for each timed search.
// VORNA_WEB_DIR: the WebAssembly build (default build-web); VORNA_DEPTH: depth (default 8);
// VORNA_NODE_FLAGS: more options for node (e.g. --no-liftoff), VORNA_CHROMIUM_FLAGS: for Chromium
// (e.g. --js-flags=--no-liftoff), VORNA_FIREFOX_PREFS: Firefox preferences as JSON, to look at the
// browsers' compilers.
import { spawn } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { createInterface } from "node:readline";
import { launchBrowser, openPage, repositoryRoot, serveFolder, webDir } from "../tests/browser/support.mjs";

// A game of Vorna against itself (depth 7 a move), from which the game workload takes the position
// after every sixth ply from ply 16 to 82: a middlegame whose queens leave at ply 24, then a rook
// endgame.
const GAME = ("d2d3 d7d6 c1e3 g7g6 g2g3 f8h6 e3h6 g8h6 f1g2 e8g8 h2h4 c7c6 b1d2 h6g4 g1h3 b8d7 e1g1 d7f6 h3g5 " +
  "d6d5 c2c3 c8d7 d1b3 d8b6 b3b6 a7b6 g2f3 g4e5 g1g2 h7h6 d3d4 e5f3 g5f3 d7e6 f3e5 f6e4 f1d1 g8g7 " +
  "g2f3 e4d2 d1d2 a8a7 f3e3 f8a8 a2a3 g7f6 g3g4 b6b5 e3f4 h6h5 g4g5 f6g7 e5d3 f7f6 a1h1 e6f5 f2f3 " +
  "a8f8 f4e3 g7f7 d3f4 f8h8 d2d1 h8a8 d1d2 a8e8 h1a1 f6g5 h4g5 h5h4 a1h1 e8h8 d2d1 h8h7 h1h2 a7a8 " +
  "d1h1 a8h8 f4d3 h4h3 e3f4 f5d3").split(" ");
const GAME_PLIES = [16, 22, 28, 34, 40, 46, 52, 58, 64, 70, 76, 82];
const WARM_UP = "position startpos";

// The search bench's positions, in its order (bench/bench_positions.inc: one string literal a line).
const BENCH = readFileSync(new URL("./bench_positions.inc", import.meta.url), "utf8")
  .split("\n").map((line) => /^\s*"([^"]+)",?\s*$/.exec(line)?.[1]).filter(Boolean);

// The workload, on engines from startEngine() (each { send(line), onLine, terminate() }). Runs in the
// page for a browser (it is passed there as text) and here for a program: it uses nothing else.
async function workload({ kind, depth, idleMs, game, warmUp, fens }, startEngine) {
  const open = async () => {
    const engine = await startEngine();
    const lines = [];
    let wake = null;
    engine.onLine = (line) => {
      lines.push({ line, t: performance.now() });
      if (wake) wake();
    };
    const expect = async (re) => {
      for (;;) {
        while (lines.length) {
          const got = lines.shift();
          if (re.test(got.line)) return got;
        }
        await new Promise((resolve) => { wake = resolve; });
        wake = null;
      }
    };
    engine.send("uci");
    await expect(/^uciok$/);
    return { engine, expect };
  };
  const search = async ({ engine, expect }, position) => {
    engine.send(position);
    engine.send("isready");
    await expect(/^readyok$/);
    let nodes = null;
    const start = performance.now();
    engine.send(`go depth ${depth}`);
    for (;;) {
      const { line, t } = await expect(/^(info depth |bestmove )/);
      if (line.startsWith("bestmove ")) return { ms: t - start, nodes, move: line.split(" ")[1] };
      nodes = line.match(/ nodes (\d+)/)[1];
    }
  };
  const results = [];
  if (kind === "game") {
    const e = await open();
    await new Promise((resolve) => setTimeout(resolve, idleMs));
    await search(e, warmUp);
    for (const ply of game.plies) results.push(await search(e, `position startpos moves ${game.moves.slice(0, ply).join(" ")}`));
    await e.engine.terminate();
  } else {
    for (const fen of fens) {
      const e = await open();
      results.push(await search(e, `position fen ${fen}`));
      await e.engine.terminate();
    }
  }
  return results;
}

// A program over its standard input and output, in a scratch directory (its log file goes there).
function programEngine(command, args, env, cwd) {
  return async () => {
    const child = spawn(command, args, { cwd, env: { ...process.env, ...env }, stdio: ["pipe", "pipe", "inherit"] });
    let ending = false;
    child.stdin.on("error", () => {});  // a pipe closed by an engine that has ended: said below
    // An engine that ends before it is told to would leave the workload waiting for its next line.
    child.once("exit", (status, signal) => {
      if (ending) return;
      console.error(`${command} ${args.join(" ")} ended in the middle of the workload (${signal || status})`);
      process.exit(1);
    });
    const engine = {
      onLine: null,
      send: (line) => child.stdin.write(line + "\n"),
      terminate: () => new Promise((resolve) => {
        ending = true;
        child.once("exit", resolve);
        child.stdin.end("quit\n");
      }),
    };
    createInterface({ input: child.stdout }).on("line", (line) => engine.onLine && engine.onLine(line));
    return engine;
  };
}

async function inBrowser(browserName, place, job) {
  const server = await serveFolder(web, place);
  const flags = (process.env.VORNA_CHROMIUM_FLAGS || "").split(/\s+/).filter(Boolean);
  const prefs = JSON.parse(process.env.VORNA_FIREFOX_PREFS || "{}");
  const browser = await launchBrowser(browserName, flags, prefs);
  try {
    const page = await openPage(browser, server.url);
    const inPage = async ([moduleUrl, input, source, job]) => {
      const { startVorna } = await import(moduleUrl);
      const run = new Function(`return (${source});`)();
      return run(job, () => startVorna({ input }));
    };
    const input = place === "isolated" ? "shared-memory" : "messages";
    const results = await page.evaluate(inPage, [new URL("vorna-engine.js", server.url).href, input, workload.toString(), job]);
    // The page itself is the folder's listing, whose favicon is not found: that is no problem.
    const problems = page.problems.filter((p) => !/status of 404/.test(p));
    if (problems.length) throw new Error(problems.join("\n"));
    return results;
  } finally {
    await browser.close();
    await server.close();
  }
}

// SIDE@DIR: the WebAssembly build in DIR for this side, to compare builds in one run.
const [sideArg, kind] = process.argv.slice(2);
const [side, sideWebDir] = (sideArg || "").split("@");
const web = sideWebDir ? path.resolve(sideWebDir) : webDir;
if (!side || !["game", "search"].includes(kind)) {
  console.error("usage: node bench/compare-browsers.mjs native|node-shm|node-msg|chromium-isolated|chromium-plain|firefox-isolated|firefox-plain game|search");
  process.exit(2);
}
const job = { kind, depth: Number(process.env.VORNA_DEPTH || 8), idleMs: Number(process.env.VORNA_IDLE_MS ?? 1500), game: { moves: GAME, plies: GAME_PLIES }, warmUp: WARM_UP, fens: BENCH };
let results;
const scratch = mkdtempSync(path.join(tmpdir(), "vorna-compare-browsers."));
try {
  if (side === "native") {
    const program = path.resolve(process.env.VORNA_NATIVE || path.join(repositoryRoot, "build/Vorna_1_12_x64"));
    results = await workload(job, programEngine(program, [], {}, scratch));
  } else if (side === "node-shm" || side === "node-msg") {
    const flags = (process.env.VORNA_NODE_FLAGS || "").split(/\s+/).filter(Boolean);
    const env = side === "node-msg" ? { VORNA_WASM_INPUT: "messages" } : { VORNA_WASM_INPUT: "" };
    results = await workload(job, programEngine(process.execPath, [...flags, path.join(web, "vorna.js")], env, scratch));
  } else {
    const [, browserName, place] = side.match(/^(chromium|firefox)-(isolated|plain)$/) || [];
    if (!browserName) throw new Error(`unknown side ${side}`);
    results = await inBrowser(browserName, place, job);
  }
} finally {
  rmSync(scratch, { recursive: true, force: true });
}
console.log(`ms ${results.reduce((sum, r) => sum + r.ms, 0).toFixed(1)}`);
for (const r of results) console.log(`search ${r.ms.toFixed(1)} ${r.nodes} ${r.move}`);
