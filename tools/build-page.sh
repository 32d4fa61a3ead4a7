#!/usr/bin/env bash
# Builds the web page: web/ bundled offline with esbuild (packages from web/package-lock.json) into
# build-page/, a folder of plain files for any static web server, with the engine files that
# tools/build-web.sh builds in build-web/; and build-page/vorna.html, the same page in one
# self-contained file that also plays when opened from disk (tools/single-page.mjs).
#
#   tools/build-page.sh [WEB_BUILD_DIR [PAGE_DIR]]     (defaults build-web and build-page)
set -euo pipefail
cd "$(dirname "$0")/.."
web=${1:-build-web}
out=${2:-build-page}

source tools/packages.sh
command -v npm >/dev/null || need_packages build-page nodejs npm
(cd web && npm ci --no-audit --no-fund --loglevel=error)
esbuild=web/node_modules/.bin/esbuild
cb=web/node_modules/cm-chessboard

bash tools/build-web.sh "$web" >/dev/null 2>&1 || bash tools/build-web.sh "$web"   # incremental: quick when up to date

rm -rf "$out"
mkdir -p "$out/assets/pieces" "$out/assets/extensions/markers" "$out/assets/extensions/arrows"
"$esbuild" web/src/main.js --bundle --format=esm --target=es2022 --minify --log-level=warning \
  --external:./vorna-engine.js --outfile="$out/page.js"
"$esbuild" web/src/style.css --bundle --minify --log-level=warning --outfile="$out/page.css"
cp web/index.html "$out/"
cp "$cb/assets/pieces/standard.svg" "$out/assets/pieces/"
cp "$cb/assets/extensions/markers/markers.svg" "$out/assets/extensions/markers/"
cp "$cb/assets/extensions/arrows/arrows.svg" "$out/assets/extensions/arrows/"
cp "$web/vorna-engine.js" "$web/vorna-worker.js" "$web/vorna-worker-messages.js" "$out/"

{
  echo "This page bundles Vorna (MIT), cm-chessboard (MIT) and chess.js (BSD-2-Clause); its chess"
  echo "pieces are the Wikimedia Commons set by Cburnett (CC BY-SA 3.0). Their licences follow."
  echo
  echo "== Vorna =="; cat LICENSE
  echo; echo "== cm-chessboard =="; cat "$cb/LICENSE"
  echo; echo "== chess.js =="; cat web/node_modules/chess.js/LICENSE
  echo; echo "== chess pieces (assets/pieces/standard.svg) =="
  sed -n '/^LICENSE/,/^-->/p' "$cb/assets/pieces/standard.svg" | sed '$d'
} >"$out/LICENSES.txt"

node tools/single-page.mjs "$out" "$web" "$out/vorna.html"

echo "page built in $out/: publish the folder on any web server (tools/serve-web.py $out serves it here), or open $out/vorna.html from disk"
