// What every browser check here needs: the browsers Debian ships (Chromium, Firefox ESR), headless,
// driven by puppeteer-core from the lock file (Chromium over its DevTools protocol, Firefox over
// WebDriver BiDi; nothing downloads a browser), and the places a page is opened from:
//
//   isolated  tools/serve-web.py, which sends the headers of a cross-origin isolated page
//   plain     python3 -m http.server, a static server that sends no such headers
//   phone     tools/serve-web.py --bind, reached by a host name that is not this machine's loopback
//             name, as a phone on the local network reaches it: no https, so the browser ignores the
//             headers (phone.vorna.test, mapped to 127.0.0.1 inside the browser)
//   file      a file opened from disk (file://)
//
// VORNA_WEB_DIR names the WebAssembly build (default build-web/), VORNA_BROWSERS the browsers to run
// (default "chromium firefox"), VORNA_CHROMIUM and VORNA_FIREFOX their programs.
import { spawn } from "node:child_process";
import path from "node:path";
import { createInterface } from "node:readline";
import { fileURLToPath, pathToFileURL } from "node:url";
import puppeteer from "puppeteer-core";

export const repositoryRoot = fileURLToPath(new URL("../../", import.meta.url));
export const webDir = path.resolve(repositoryRoot, process.env.VORNA_WEB_DIR || "build-web");
export const browserNames = (process.env.VORNA_BROWSERS || "chromium firefox").split(/[\s,]+/).filter(Boolean);
export const PHONE_HOST = "phone.vorna.test";

// Starts a server process whose first line on standard output names its address; returns the process and
// that line.
async function startServer(command, args) {
  const server = spawn(command, args, { stdio: ["ignore", "pipe", "ignore"] });
  const first = await new Promise((resolve, reject) => {
    const lines = createInterface({ input: server.stdout });
    lines.once("line", (line) => resolve(line));
    server.once("exit", (status) => reject(new Error(`${command} ${args.join(" ")} ended with status ${status}`)));
  });
  const close = () => new Promise((resolve) => {
    if (server.exitCode !== null || server.signalCode !== null) return resolve();
    server.once("exit", resolve);
    server.kill("SIGTERM");
  });
  return { first, close };
}

// Serves dir on a free port for one place ("isolated", "plain" or "phone"); returns { url, close() }.
// For "file" it serves nothing: url is the folder's file:// address.
export async function serveFolder(dir, place = "isolated") {
  if (place === "file") return { url: pathToFileURL(dir + path.sep).href, close: async () => {} };
  if (place === "plain") {
    const { first, close } = await startServer("python3", ["-u", "-m", "http.server", "--bind", "127.0.0.1",
                                                             "--directory", dir, "0"]);
    const port = first.match(/ port (\d+)/)[1];
    return { url: `http://127.0.0.1:${port}/`, close };
  }
  const args = [path.join(repositoryRoot, "tools/serve-web.py"), "--port", "0", "--quiet", dir];
  if (place === "phone") args.push("--bind", "0.0.0.0");
  const { first, close } = await startServer("python3", args);
  const port = first.match(/:(\d+)\//)[1];
  return { url: `http://${place === "phone" ? PHONE_HOST : "127.0.0.1"}:${port}/`, close };
}

// A headless browser with a fresh profile that reaches nothing outside this host; flags: more
// command-line arguments (Chromium), prefs: more preferences (Firefox).
export function launchBrowser(name, flags = [], prefs = {}) {
  if (name === "firefox") {
    return puppeteer.launch({
      browser: "firefox",
      executablePath: process.env.VORNA_FIREFOX || "/usr/bin/firefox-esr",
      headless: true,
      extraPrefsFirefox: { "network.dns.localDomains": PHONE_HOST, ...prefs },
    });
  }
  return puppeteer.launch({
    browser: "chrome",
    executablePath: process.env.VORNA_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", `--host-resolver-rules=MAP ${PHONE_HOST} 127.0.0.1`, ...flags],
  });
}

// A page at url, with its errors (uncaught exceptions, console errors, failed requests) collected in
// page.problems.
export async function openPage(browser, url, viewport = { width: 1280, height: 900 }) {
  const page = await browser.newPage();
  await page.setViewport(viewport);
  page.problems = [];
  page.on("pageerror", (error) => page.problems.push(String(error)));
  page.on("console", (message) => { if (message.type() === "error") page.problems.push(message.text()); });
  page.on("requestfailed", (request) => page.problems.push(`request failed: ${request.url()}`));
  if (url) await page.goto(url);
  return page;
}

// What the page itself says about where it runs.
export function pageContext(page) {
  return page.evaluate(() => ({ secure: globalThis.isSecureContext, isolated: globalThis.crossOriginIsolated === true }));
}
