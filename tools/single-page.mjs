// Makes the single-file page, vorna.html: the built page folder (tools/build-page.sh) with its style
// sheet, script, board sprites, licences and the engine all inside one HTML file, which plays when it is
// opened from disk, mailed, or put on any host. The engine is the worker whose input comes as messages
// (no page opened from a file is cross-origin isolated), started from a Blob of its own source.
//
//   node tools/single-page.mjs PAGE_DIR WEB_BUILD_DIR OUT_FILE
//
// esbuild comes from web/node_modules (npm ci in web/ first).
import { mkdtempSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const root = path.resolve(fileURLToPath(new URL("..", import.meta.url)));
const esbuild = createRequire(path.join(root, "web/package.json"))("esbuild");
const [pageDir, webDir, outFile] = process.argv.slice(2).map((p) => p && path.resolve(p));
if (!outFile) {
  console.error("usage: node tools/single-page.mjs PAGE_DIR WEB_BUILD_DIR OUT_FILE");
  process.exit(2);
}

// Text placed inside <script> or <style> must not end the element early.
function inline(text, tag) {
  return text.replace(new RegExp(`</(${tag})`, "gi"), "<\\/$1");
}

// The engine module as the page imports it, with the messages worker from a Blob as its default.
const scratch = mkdtempSync(path.join(tmpdir(), "vorna-single-"));
try {
  writeFileSync(path.join(scratch, "worker.txt"), readFileSync(path.join(webDir, "vorna-worker-messages.js")));
  writeFileSync(path.join(scratch, "engine.js"), readFileSync(path.join(webDir, "vorna-engine.js")));
  writeFileSync(path.join(scratch, "inline-engine.js"), `
import { startVorna as startWorker } from "./engine.js";
import workerSource from "./worker.txt";
let url = null;
export function startVorna(options = {}) {
  url ??= URL.createObjectURL(new Blob([workerSource], { type: "text/javascript" }));
  return startWorker({ input: "messages", url, ...options });
}
`);
  const inlineEngine = {
    name: "inline-engine",
    setup(build) {
      build.onResolve({ filter: /^\.\/vorna-engine\.js$/ }, () => ({ path: path.join(scratch, "inline-engine.js") }));
    },
  };
  const script = await esbuild.build({
    entryPoints: [path.join(root, "web/src/main.js")],
    bundle: true, format: "iife", target: "es2022", minify: true, write: false, logLevel: "warning",
    loader: { ".txt": "text" }, plugins: [inlineEngine],
  });
  const js = script.outputFiles[0].text;

  // The board's sprites, in the elements the board would otherwise fill by a request of its own:
  // assets/pieces/*.svg is "cm-chessboard-sprite", assets/extensions/NAME/NAME.svg "cm-chessboard-NAME".
  const sprites = [];
  const hidden = 'style="transform: scale(0); position: absolute" aria-hidden="true"';
  for (const file of readdirSync(path.join(pageDir, "assets/pieces"))) {
    sprites.push(`<div id="cm-chessboard-sprite" ${hidden}>${readFileSync(path.join(pageDir, "assets/pieces", file), "utf8")}</div>`);
  }
  const extensions = path.join(pageDir, "assets/extensions");
  for (const name of readdirSync(extensions)) {
    const file = path.join(extensions, name, `${name}.svg`);
    if (statSync(file, { throwIfNoEntry: false })) {
      sprites.push(`<div id="cm-chessboard-${name}" ${hidden}>${readFileSync(file, "utf8")}</div>`);
    }
  }
  const svgText = (s) => s.replace(/<\?xml[^>]*\?>/g, "").replace(/<!DOCTYPE[^>]*>/gi, "");

  const licences = readFileSync(path.join(pageDir, "LICENSES.txt"), "utf8")
    .replace(/&/g, "&amp;").replace(/</g, "&lt;");
  let html = readFileSync(path.join(pageDir, "index.html"), "utf8");
  const replace = (pattern, text) => {
    if (!pattern.test(html)) throw new Error(`index.html has no ${pattern}`);
    html = html.replace(pattern, () => text);
  };
  replace(/<link rel="stylesheet" href="page\.css">/, `<style>\n${inline(readFileSync(path.join(pageDir, "page.css"), "utf8"), "style")}\n</style>`);
  replace(/<script type="module" src="page\.js"><\/script>/, "");
  html = html.replace(/<script>[^<]*location\.protocol[^<]*<\/script>\n?/, "");   // the folder page's way here
  replace(/href="LICENSES\.txt"/, 'href="#licences"');
  replace(/<\/body>/, `${sprites.map(svgText).join("\n")}
<details id="licences"><summary>Licences</summary><pre>${licences}</pre></details>
<script>
${inline(js, "script")}
</script>
</body>`);
  writeFileSync(outFile, html);
  console.log(`${path.relative(process.cwd(), outFile)}: ${(html.length / 1024).toFixed(0)} KB`);
} finally {
  rmSync(scratch, { recursive: true, force: true });
}
