// The engine's standard input where there is no shared memory (a page that is not cross-origin
// isolated): the host posts the command lines to the engine's worker as messages, and a worker sees a
// message only when its event loop runs. So a search gives the loop a turn at its polls, at most once
// every few milliseconds: the engine's stack is unwound, the loop delivers what has come, and the stack
// is rewound where it was (Asyncify, in the engine's build for this input). A read with nothing to read
// sleeps until the next message.
//
// The engine calls read() and poll() (library_vorna.js); the worker's message handler calls push() and
// close(). One object per engine.
class VornaMessageInput {
  constructor(sliceMs = 4) {
    this.chunks = [];     // Uint8Arrays not yet read, oldest first
    this.offset = 0;      // bytes of chunks[0] already read
    this.ended = false;
    this.reader = null;   // a read that sleeps: { heap, at, n, wakeUp }
    this.sliceMs = sliceMs;
    this.lastTurn = performance.now();
    this.turn = VornaMessageInput.scheduler();
  }

  // A function that runs a callback on the event loop's next turn, after the messages that have come:
  // setImmediate under Node; elsewhere a message to itself (timers would be held back to 4 ms each).
  static scheduler() {
    if (typeof setImmediate === 'function') return setImmediate;
    const channel = new MessageChannel();
    const callbacks = [];
    channel.port1.onmessage = () => callbacks.shift()();
    return (callback) => {
      callbacks.push(callback);
      channel.port2.postMessage(0);
    };
  }

  // Host: bytes (a Uint8Array) behind everything before them.
  push(bytes) {
    if (this.ended || bytes.length === 0) return;
    this.chunks.push(bytes);
    this.wakeReader();
  }

  // Host: the end of input, after every byte pushed so far.
  close() {
    this.ended = true;
    this.wakeReader();
  }

  waiting() {
    return this.chunks.length > 0 || this.ended;
  }

  // Copies up to n waiting bytes to heap[at...]; returns the count (0 at the end of input).
  take(heap, at, n) {
    let count = 0;
    while (count < n && this.chunks.length) {
      const chunk = this.chunks[0];
      const k = Math.min(n - count, chunk.length - this.offset);
      heap.set(chunk.subarray(this.offset, this.offset + k), at + count);
      count += k;
      this.offset += k;
      if (this.offset === chunk.length) {
        this.chunks.shift();
        this.offset = 0;
      }
    }
    return count;
  }

  // Engine: a read of up to n bytes to heap[at...]. Calls wakeUp(count) at once when bytes are waiting
  // or the input has ended, otherwise when the next message brings some.
  read(heap, at, n, wakeUp) {
    if (this.waiting()) {
      wakeUp(this.take(heap, at, n));
    } else {
      this.reader = { heap, at, n, wakeUp };
    }
  }

  wakeReader() {
    const reader = this.reader;
    if (!reader) return;
    this.reader = null;
    this.lastTurn = performance.now();
    reader.wakeUp(this.take(reader.heap, reader.at, reader.n));
  }

  // Engine, at a poll during a search: calls wakeUp(1 if a read would not sleep, else 0), at once while
  // the search's slice of time lasts, else after a turn of the event loop.
  poll(wakeUp) {
    const now = performance.now();
    if (now - this.lastTurn < this.sliceMs) {
      wakeUp(this.waiting() ? 1 : 0);
      return;
    }
    this.turn(() => {
      this.lastTurn = performance.now();
      wakeUp(this.waiting() ? 1 : 0);
    });
  }
}
