// The npm package as a JavaScript developer meets it: tools/build-npm.sh packs vorna-VERSION.tgz, which
// is installed offline into a scratch project (`npm install ./vorna-VERSION.tgz`), and there
//   - a Node script imports it and plays a UCI session through startVorna() on both input paths;
//   - `npx vorna` is the console engine;
//   - a page bundled by esbuild from `import { startVorna } from "vorna"` plays a move in Chromium and
//     Firefox from a plain static server (no isolation headers), as an esbuild user ships it: the bundle
//     alone, in esbuild's default format and as an ES module;
//   - tsc accepts a TypeScript user of the declarations, resolved as Node and as a bundler resolves them.
// VORNA_WEB_DIR names the WebAssembly build (default build-web/); browsers as in tests/browser/ (whose
// support.mjs and puppeteer-core this uses: npm ci there too).
import assert from "node:assert/strict";
import { execFileSync, spawnSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import path from "node:path";
import { after, before, describe, test } from "node:test";
import { browserNames, launchBrowser, openPage, pageContext, repositoryRoot, serveFolder, webDir } from "../browser/support.mjs";

const require = createRequire(import.meta.url);
const esbuild = require("esbuild");
const tsc = require.resolve("typescript/bin/tsc");

let scratch;
let tarball;

// Runs a command in the scratch project; returns its standard output (fails on a non-zero status).
const run = (command, args, options = {}) =>
  execFileSync(command, args, { cwd: scratch, encoding: "utf8", stdio: ["pipe", "pipe", "pipe"], timeout: 300000, ...options });

before(() => {
  scratch = mkdtempSync(path.join(tmpdir(), "vorna-npm-"));
  const packed = execFileSync("bash", [path.join(repositoryRoot, "tools/build-npm.sh"), webDir, path.join(scratch, "pack")],
                              { encoding: "utf8", timeout: 600000 });
  tarball = packed.trim().split("\n").pop();
  const version = readFileSync(path.join(repositoryRoot, "CMakeLists.txt"), "utf8").match(/project\(Vorna VERSION (\d+\.\d+)/)[1];
  assert.equal(path.basename(tarball), `vorna-${version}.0.tgz`, "the tarball is named after the engine's version");
  writeFileSync(path.join(scratch, "package.json"), JSON.stringify({ name: "scratch", private: true, type: "module" }));
  run("npm", ["install", "--offline", "--no-audit", "--no-fund", "--loglevel=error", tarball]);
});

after(() => {
  if (scratch) rmSync(scratch, { recursive: true, force: true });
});

test("Node: a UCI session through startVorna() on each input path, then quit ends the script", () => {
  writeFileSync(path.join(scratch, "session.mjs"), `
    import { startVorna } from "vorna";
    const results = [];
    for (const input of [undefined, "messages"]) {
      const engine = await startVorna(input && { input });
      const exited = new Promise((resolve) => { engine.onExit = resolve; });
      const r = { inputPath: engine.inputPath };
      r.uci = await engine.command("uci", /^uciok$/);
      r.nothing = await engine.command("ucinewgame");
      engine.send("position startpos moves e2e4 e7e5");
      r.search = await engine.command("go depth 6", /^bestmove /);
      const infinite = engine.command("go infinite", /^bestmove /);
      await engine.command("isready", /^readyok$/);
      await new Promise((resolve) => setTimeout(resolve, 300));
      r.ready = await engine.command("isready", /^readyok$/, { timeout: 5000 });
      const t0 = performance.now();
      engine.send("stop");
      r.stopped = await infinite;
      r.stopMs = performance.now() - t0;
      r.timeout = await engine.command("isready", /^never$/, { timeout: 200 }).catch((e) => ({ message: e.message, lines: e.lines }));
      const pending = engine.command("go infinite", /^never$/).catch((e) => e.message);
      engine.send("quit");
      r.exit = await exited;
      r.pending = await pending;
      r.afterEnd = await engine.command("isready", /^readyok$/).catch((e) => e.message);
      results.push(r);
    }
    console.log(JSON.stringify(results));
  `);
  // The script ends by itself once both engines have quit: no thread keeps Node running.
  const results = JSON.parse(run("node", ["session.mjs"], { timeout: 120000 }));
  assert.deepEqual(results.map((r) => r.inputPath), ["shared-memory", "messages"]);
  for (const r of results) {
    const where = r.inputPath;
    assert.deepEqual(r.uci.slice(0, 3), ["Vorna 1.12 wasm",
                                         "(c) the Vorna developers; a free chess engine for UCI and xboard interfaces",
                                         "id name Vorna 1.12 wasm UCI"], where);
    assert.equal(r.uci.at(-1), "uciok", where);
    assert.deepEqual(r.nothing, [], `${where}: a command without a reply resolves with no lines`);
    assert.match(r.search.at(-1), /^bestmove [a-h][1-8][a-h][1-8]$/, where);
    assert.ok(r.search.slice(0, -1).every((l) => l.startsWith("info ")), `${where}: ${r.search}`);
    assert.match(r.search.at(-2), /^info depth 6 /, where);
    assert.equal(r.ready.at(-1), "readyok", `${where}: isready is answered during the search`);
    assert.ok(r.ready.slice(0, -1).every((l) => l.startsWith("info depth ")), `${where}: ${r.ready}`);
    assert.match(r.stopped.at(-1), /^bestmove [a-h][1-8][a-h][1-8]$/, `${where}: stop ends the search`);
    assert.ok(r.stopMs < 1000, `${where}: bestmove ${r.stopMs} ms after stop`);
    assert.match(r.timeout.message, /^no line matching \/\^never\$\/ within 200 ms of "isready"$/, where);
    assert.deepEqual(r.timeout.lines, ["readyok"], `${where}: the lines that came before the timeout`);
    assert.deepEqual(r.exit, { status: 0 }, where);
    assert.match(r.pending, /^Vorna ended \(exit status 0\) before a line matching \/\^never\$\//, where);
    assert.match(r.afterEnd, /^Vorna has ended/, where);
  }
});

test("npx vorna: the console engine", () => {
  const res = spawnSync("npx", ["--offline", "vorna"], { cwd: scratch, input: "uci\nisready\nquit\n", encoding: "utf8", timeout: 60000 });
  assert.equal(res.status, 0, res.stderr);
  const lines = res.stdout.split("\n");
  assert.ok(lines.includes("id name Vorna 1.12 wasm UCI"), res.stdout);
  assert.deepEqual(lines.slice(-3), ["uciok", "readyok", ""], res.stdout);
});

describe("a page bundled by esbuild, on a plain static server", () => {
  let server;
  const site = () => path.join(scratch, "site");

  before(async () => {
    // What an esbuild user writes and ships: the bundle and a page, no file of the package beside it.
    writeFileSync(path.join(scratch, "main.js"), `
      import { startVorna } from "vorna";
      window.vornaResult = (async () => {
        const engine = await startVorna();
        await engine.command("uci", /^uciok$/);
        engine.send("position startpos moves e2e4");
        const lines = await engine.command("go depth 5", /^bestmove /, { timeout: 60000 });
        engine.terminate();
        return { inputPath: engine.inputPath, bestmove: lines.at(-1) };
      })().catch((error) => ({ error: error.message }));
    `);
    mkdirSync(site());
    for (const [format, file, script] of [["iife", "app.js", "<script src=app.js></script>"],
                                          ["esm", "app.mjs", "<script type=module src=app.mjs></script>"]]) {
      await esbuild.build({ absWorkingDir: scratch, entryPoints: ["main.js"], bundle: true, format, target: "es2022",
                            minify: true, outfile: path.join(site(), file), logLevel: "error" });
      writeFileSync(path.join(site(), `${format}.html`), `<!doctype html><meta charset=utf-8><title>Vorna</title>${script}`);
    }
    server = await serveFolder(site(), "plain");
  });

  after(async () => { await server?.close(); });

  for (const browserName of browserNames) {
    test(`${browserName}: the bundle plays a move, in esbuild's default format and as an ES module`, async () => {
      const browser = await launchBrowser(browserName);
      try {
        for (const format of ["iife", "esm"]) {
          const page = await openPage(browser, new URL(`${format}.html`, server.url).href);
          assert.equal((await pageContext(page)).isolated, false);
          const r = await page.evaluate(async () => {
            while (!window.vornaResult) await new Promise((resolve) => setTimeout(resolve, 50));
            return window.vornaResult;
          });
          assert.deepEqual(Object.keys(r), ["inputPath", "bestmove"], `${format}: ${JSON.stringify(r)}`);
          assert.equal(r.inputPath, "messages", format);
          assert.match(r.bestmove, /^bestmove [a-h][1-8][a-h][1-8]$/, format);
          await page.close();
        }
      } finally {
        await browser.close();
      }
    });
  }
});

test("TypeScript: tsc accepts a user of the declarations, resolved as by Node and as by a bundler", () => {
  mkdirSync(path.join(scratch, "ts"));
  writeFileSync(path.join(scratch, "ts", "user.mts"), `
    import { startVorna, type VornaEngine, type VornaExit } from "vorna";

    export async function bestMove(fen: string, depth: number): Promise<string> {
      const engine: VornaEngine = await startVorna({ input: "messages", timeout: 10000 });
      let failure: Error | undefined;
      engine.onExit = (exit: VornaExit) => { failure = exit.error; };
      engine.onLine = null;
      await engine.command("uci", /^uciok$/);
      engine.send(\`position fen \${fen}\`);
      const lines: string[] = await engine.command(\`go depth \${depth}\`, (line) => line.startsWith("bestmove"), { timeout: 60000 });
      engine.terminate();
      if (failure) throw failure;
      return lines[lines.length - 1].split(" ")[1] + engine.inputPath;
    }

    export async function misuse(engine: VornaEngine) {
      // @ts-expect-error: a command line is a string
      engine.send(42);
      // @ts-expect-error: there is no such input path
      await startVorna({ input: "pipes" });
      // @ts-expect-error: command() resolves with lines
      const n: number = await engine.command("isready", /^readyok$/);
      return n;
    }
  `);
  const configs = {
    "node.json": { module: "nodenext", moduleResolution: "nodenext", lib: ["es2022"] },
    "bundler.json": { module: "esnext", moduleResolution: "bundler", lib: ["es2022", "dom"] },
  };
  for (const [name, options] of Object.entries(configs)) {
    writeFileSync(path.join(scratch, "ts", name), JSON.stringify({
      compilerOptions: { strict: true, noEmit: true, target: "es2022", types: [], ...options },
      files: ["user.mts"],
    }));
    const res = spawnSync(process.execPath, [tsc, "-p", path.join(scratch, "ts", name)], { cwd: scratch, encoding: "utf8" });
    assert.equal(res.status, 0, `tsc -p ${name}:\n${res.stdout}${res.stderr}`);
  }
});
