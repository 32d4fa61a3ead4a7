
// The npm package's browser module (vorna-engine.mjs) ends with this: its own copy of the messages
// worker, a module of its own that bundlers load only when it is needed (webpack and Vite split it off;
// esbuild, which bundles no worker files, puts it in the bundle).
inlineMessagesWorker = () => import("./vorna-worker-inline.mjs");
