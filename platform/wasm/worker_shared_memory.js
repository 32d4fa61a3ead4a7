// The input of vorna-worker.js: a queue in shared memory that the page writes into (input_queue.js).
Module['vornaInput'] = VornaInputQueue.create();
