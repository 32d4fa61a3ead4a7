// What every browser check here needs: the folder served as a cross-origin isolated site (by
// tools/serve-web.py, the server the README gives users) and Debian's Chromium, headless, started by
// playwright-core (nothing downloads a browser). VORNA_WEB_DIR names the WebAssembly build (default
// build-web/ of the repository), VORNA_CHROMIUM the browser (default /usr/bin/chromium).
import { spawn } from "node:child_process";
import path from "node:path";
import { createInterface } from "node:readline";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

export const repositoryRoot = fileURLToPath(new URL("../../", import.meta.url));
export const webDir = path.resolve(repositoryRoot, process.env.VORNA_WEB_DIR || "build-web");

// Serves dir on a free loopback port; returns { url, close() }.
export async function serveFolder(dir) {
  const server = spawn("python3", [path.join(repositoryRoot, "tools/serve-web.py"), "--port", "0", "--quiet", dir],
                       { stdio: ["ignore", "pipe", "inherit"] });
  const first = await new Promise((resolve, reject) => {
    const lines = createInterface({ input: server.stdout });
    lines.once("line", (line) => resolve(line));
    server.once("exit", (status) => reject(new Error(`tools/serve-web.py ended with status ${status}`)));
  });
  const url = first.match(/ at (http:\/\/\S+)$/)[1];
  return {
    url,
    close: () => new Promise((resolve) => {
      if (server.exitCode !== null) return resolve();
      server.once("exit", resolve);
      server.kill("SIGTERM");
    }),
  };
}

// Headless Chromium with a fresh profile; the networking flags keep it from reaching out of this host.
export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.VORNA_CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
}

// A page of the served site, with what it prints to its console and its errors collected in page.problems.
export async function openPage(browser, url) {
  const page = await browser.newPage();
  page.problems = [];
  page.on("pageerror", (error) => page.problems.push(String(error)));
  page.on("console", (message) => { if (message.type() === "error") page.problems.push(message.text()); });
  await page.goto(url);
  return page;
}
