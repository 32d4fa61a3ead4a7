// The engine as a Web Worker, started through vorna-engine.js as a page starts it: a search, "isready"
// and "stop" during it (UCI), "?" during a game search and "exit" during an analysis (xboard), each
// answered within 50 ms, timed inside the page from the send to the reply. In each browser and in each
// place a page is served from: cross-origin isolated (the shared-memory input) and without the headers
// (a plain server, a phone on the local network: the input through messages).
import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";
import { browserNames, launchBrowser, openPage, pageContext, serveFolder, webDir } from "./support.mjs";

const BUDGET_MS = 50;
const PLACES = { isolated: "shared-memory", plain: "messages", phone: "messages" };

// Runs in the page: starts an engine and gives it expect(regexp), which waits for the next matching line
// and returns it with its arrival time and the lines skipped on the way.
const inPage = async ([moduleUrl, script]) => {
  const { startVorna } = await import(moduleUrl);
  const engine = await startVorna();
  const lines = [];
  let cursor = 0;
  let wake = null;
  engine.onLine = (line) => {
    lines.push({ line, t: performance.now() });
    if (wake) wake();
  };
  const expect = async (re, timeout = 20000) => {
    const deadline = performance.now() + timeout;
    const skipped = [];
    for (;;) {
      while (cursor < lines.length) {
        const got = lines[cursor++];
        if (re.test(got.line)) return { ...got, skipped };
        skipped.push(got.line);
      }
      const left = deadline - performance.now();
      if (left <= 0) throw new Error(`no line matching ${re} within ${timeout} ms; got ${JSON.stringify(skipped.slice(-8))}`);
      await new Promise((resolve) => { wake = resolve; setTimeout(resolve, left); });
      wake = null;
    }
  };
  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  // Sends a line and waits for the reply: { ms from the send, reply, lines before it }.
  const timed = async (send, re) => {
    const start = performance.now();
    [].concat(send).forEach((line) => engine.send(line));
    const reply = await expect(re);
    return { ms: reply.t - start, reply: reply.line, before: reply.skipped };
  };
  try {
    const result = await new Function("engine", "expect", "sleep", "timed", `return (async () => { ${script} })();`)(
      engine, expect, sleep, timed);
    return { inputPath: engine.inputPath, ...result };
  } finally {
    engine.terminate();
  }
};

for (const browserName of browserNames) {
  for (const [place, inputPath] of Object.entries(PLACES)) {
    describe(`${browserName}, ${place}`, () => {
      let server, browser, page;
      const run = async (script) => {
        const r = await page.evaluate(inPage, [new URL("vorna-engine.js", server.url).href, script]);
        assert.equal(r.inputPath, inputPath, "startVorna picks the input path of the place");
        return r;
      };

      before(async () => {
        server = await serveFolder(webDir, place);
        browser = await launchBrowser(browserName);
        page = await openPage(browser, server.url);
        const context = await pageContext(page);
        assert.equal(context.isolated, place === "isolated", `isolated: ${JSON.stringify(context)}`);
      });

      after(async () => {
        await browser?.close();
        await server?.close();
      });

      test(`UCI: isready and stop during an infinite search`, async () => {
        const r = await run(`
          engine.send("uci");
          const ident = await expect(/^uciok$/);
          engine.send("position startpos moves e2e4");
          engine.send("go infinite");
          await expect(/^info depth \\d+ /);
          await sleep(200);
          const ready = await timed("isready", /^readyok$/);
          await sleep(300);
          const stop = await timed("stop", /^bestmove /);
          return { banner: ident.skipped.slice(0, 3), ready, stop };
        `);
        console.log(`${browserName}, ${place}: readyok ${r.ready.ms.toFixed(1)} ms after isready, bestmove ${r.stop.ms.toFixed(1)} ms after stop`);
        assert.deepEqual(r.banner, ["Vorna 1.12 wasm",
                                    "(c) the Vorna developers; a free chess engine for UCI and xboard interfaces",
                                    "id name Vorna 1.12 wasm UCI"]);
        assert.ok(r.ready.before.every((l) => l.startsWith("info depth ")), r.ready.before);
        assert.ok(r.stop.before.every((l) => l.startsWith("info depth ")), "no bestmove before stop");
        assert.match(r.stop.reply, /^bestmove [a-h][1-8][a-h][1-8]$/);
        assert.ok(r.ready.ms < BUDGET_MS, `readyok after ${r.ready.ms} ms`);
        assert.ok(r.stop.ms < BUDGET_MS, `bestmove after ${r.stop.ms} ms`);
      });

      test(`xboard: ? during a game search and exit during an analysis`, async () => {
        const r = await run(`
          engine.send("xboard");
          engine.send("protover 2");
          await expect(/^feature .*done=1/);
          engine.send("new");
          engine.send("st 60");
          engine.send("go");
          await expect(/^\\d+ -?\\d+ \\d+ \\d+ /);
          await sleep(200);
          const question = await timed("?", /^move /);
          engine.send("analyze");
          await expect(/^\\d+ -?\\d+ \\d+ \\d+ /);
          await sleep(200);
          const exit = await timed(["exit", "ping 1"], /^pong 1$/);
          await sleep(300);
          const after = await timed("ping 2", /^pong 2$/);
          return { question, exit, after };
        `);
        console.log(`${browserName}, ${place}: move ${r.question.ms.toFixed(1)} ms after ?, analysis ended ${r.exit.ms.toFixed(1)} ms after exit`);
        assert.match(r.question.reply, /^move [a-h][1-8][a-h][1-8]$/);
        assert.deepEqual(r.after.before, [], "the analysis has ended");
        assert.ok(r.question.ms < BUDGET_MS, `move after ${r.question.ms} ms`);
        assert.ok(r.exit.ms < BUDGET_MS, `pong after ${r.exit.ms} ms`);
      });
    });
  }
}

// What the page is told when the engine cannot start or stops working, as a person meets it: an engine
// file cut short (a broken download), a browser without WebAssembly in its workers, too little memory
// for the engine (a browser limited to 64 MB of WebAssembly memory), and a worker that fails in the
// middle of a search. Each is answered at once, with the reason.
describe("startVorna: failures", () => {
  let server;
  before(async () => { server = await serveFolder(webDir, "plain"); });
  after(async () => { await server?.close(); });

  // Starts an engine on a page whose worker file is changed by alter(text); returns what happened.
  const attempt = async (browserName, alter, flags) => {
    const browser = await launchBrowser(browserName, flags);
    try {
      const page = await openPage(browser, null);
      if (alter) {
        await page.setRequestInterception(true);
        page.on("request", async (request) => {
          if (!request.url().endsWith("/vorna-worker-messages.js")) return request.continue();
          const text = await (await fetch(request.url())).text();
          request.respond({ status: 200, contentType: "text/javascript", body: alter(text) });
        });
      }
      await page.goto(server.url);
      return await page.evaluate(async (moduleUrl) => {
        const { startVorna } = await import(moduleUrl);
        const t0 = performance.now();
        let engine;
        try {
          engine = await startVorna();
        } catch (error) {
          return { rejected: error.message, ms: performance.now() - t0 };
        }
        // Started: a search until the engine ends; onExit says how.
        const exit = new Promise((resolve) => { engine.onExit = resolve; });
        engine.send("uci");
        engine.send("go infinite");
        const info = await Promise.race([exit, new Promise((resolve) => setTimeout(() => resolve(null), 5000))]);
        engine.terminate();
        return { exit: info && { status: info.status, error: info.error && info.error.message } };
      }, new URL("vorna-engine.js", server.url).href);
    } finally {
      await browser.close();
    }
  };

  test("each failure reaches the page with its reason", async () => {
    const truncated = await attempt("chromium", (text) => text.slice(0, text.length >> 1));
    assert.match(truncated.rejected ?? "", /^Vorna could not start: its engine file is damaged or incomplete/, JSON.stringify(truncated));
    const noWasm = await attempt("chromium", (text) => `delete globalThis.WebAssembly;\n${text}`);
    assert.match(noWasm.rejected ?? "", /^Vorna could not start: this browser runs no WebAssembly/, JSON.stringify(noWasm));
    const memory = await attempt("chromium", null, ["--js-flags=--wasm-max-mem-pages=1024"]);
    assert.match(memory.rejected ?? "", /^Vorna could not start: the browser could not give Vorna the memory it needs/, JSON.stringify(memory));
    const crash = await attempt("chromium", (text) => `${text}\nsetTimeout(function () { throw new Error("failed in the search"); }, 500);`);
    assert.match(crash.exit?.error ?? "", /^Vorna stopped working: .*failed in the search/, JSON.stringify(crash));
    for (const r of [truncated, noWasm, memory]) assert.ok(r.ms < 5000, `answered after ${r.ms} ms`);
  });
});
