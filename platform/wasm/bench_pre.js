// The bench under Node (build-web/vorna-bench.js): an input queue that stays open and empty, so that
// `vorna-bench.js search 8 polled` measures what the engine's look at its input costs.
Module['vornaInput'] = VornaInputQueue.create();
