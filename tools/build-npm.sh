#!/usr/bin/env bash
# Builds the npm package from the WebAssembly build (tools/build-web.sh) and packaging/npm/: the package's
# folder build-npm/vorna/ and its tarball build-npm/vorna-VERSION.tgz (`npm pack`), whose path it prints.
# The version is the engine's own (CMakeLists.txt), in npm's three parts: 1.12 is 1.12.0.
#
#   tools/build-npm.sh [WEB_BUILD_DIR [OUT_DIR]]     (defaults build-web and build-npm)
#
# The package's files:
#   vorna-engine.mjs          startVorna() for browsers: build-web's vorna-engine.js, and its own copy of
#                             the messages worker for when a bundler leaves the worker files behind
#   vorna-worker-inline.mjs   that copy (vorna-worker-messages.js as a string)
#   vorna-node.mjs            startVorna() for Node: the same engine object over a worker thread
#   vorna-node-worker.cjs     what the worker files need of a Web Worker, in a Node worker thread
#   vorna-worker.js, vorna-worker-messages.js    the engine, for browsers and Node alike
#   vorna.js                  the console program under Node, the package's `vorna` command
#   vorna.d.mts, README.md, LICENSE, package.json
set -euo pipefail
cd "$(dirname "$0")/.."
web=${1:-build-web}
out=${2:-build-npm}

source tools/packages.sh
command -v npm >/dev/null || need_packages build-npm nodejs npm
bash tools/build-web.sh "$web" >/dev/null 2>&1 || bash tools/build-web.sh "$web"   # incremental: quick when up to date

version=$(sed -nE 's/^project\(Vorna VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
case $version in
  *.*.*) ;;
  *.*) version=$version.0 ;;
  *) version=$version.0.0 ;;
esac

glue=platform/wasm
stage=$out/vorna
rm -rf "$stage" "$out/vorna-$version.tgz"
mkdir -p "$stage"
cat "$glue/input_queue.js" "$glue/engine_connection.js" "$glue/engine_module.js" "$glue/engine_inline.js" \
  >"$stage/vorna-engine.mjs"
cat "$glue/input_queue.js" "$glue/engine_connection.js" "$glue/node_module.js" >"$stage/vorna-node.mjs"
cp "$glue/node_worker.js" "$stage/vorna-node-worker.cjs"
cp "$web/vorna-worker.js" "$web/vorna-worker-messages.js" "$stage/"
node -e 'const fs = require("fs");
         process.stdout.write("// vorna-worker-messages.js, for a Blob: see vorna-engine.mjs\nexport default " +
                              JSON.stringify(fs.readFileSync(process.argv[1], "utf8")) + ";\n");' \
  "$web/vorna-worker-messages.js" >"$stage/vorna-worker-inline.mjs"
{ echo '#!/usr/bin/env node'; cat "$web/vorna.js"; } >"$stage/vorna.js"
chmod 755 "$stage/vorna.js"
cp packaging/npm/README.md packaging/npm/vorna.d.mts "$stage/"
cp LICENSE "$stage/LICENSE"
sed "s/@VERSION@/$version/" packaging/npm/package.json.in >"$stage/package.json"

(cd "$out" && npm pack ./vorna --ignore-scripts --loglevel=error >/dev/null)
realpath "$out/vorna-$version.tgz"
