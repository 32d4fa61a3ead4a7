// The engine's standard input in WebAssembly: a byte queue in a SharedArrayBuffer. The host - the page
// (vorna-engine.js) or the Node program's main thread - writes command lines into it; the engine, which
// holds its own thread while it searches, reads it: a look at two counters during a search, a wait with
// Atomics.wait when it has nothing to do. One writer and one reader; the writer never blocks.
//
// Layout: four 32-bit words, then the ring of bytes (a power of two).
//   word 0  bytes written so far (wrapping), stored by the writer after the bytes themselves
//   word 1  bytes read so far (wrapping), stored by the reader
//   word 2  1 once the input has ended (the writer closed it and every byte is in the ring)
//   word 3  changes at every store of the writer: what a waiting reader waits on
class VornaInputQueue {
  static create(capacity = 1 << 16) {
    return new VornaInputQueue(new SharedArrayBuffer(16 + capacity));
  }

  constructor(buffer) {
    this.buffer = buffer;
    this.counters = new Int32Array(buffer, 0, 4);
    this.ring = new Uint8Array(buffer, 16);
    this.mask = this.ring.length - 1;
    this.pending = [];  // writer: bytes that did not fit yet
    this.closing = false;
    this.timer = null;
  }

  // Writer: queues bytes (a Uint8Array) behind everything written before.
  write(bytes) {
    if (this.closing) return;
    this.pending.push(bytes);
    this.flush();
  }

  // Writer: the end of input, once every queued byte has reached the ring.
  close() {
    this.closing = true;
    this.flush();
  }

  // Moves queued bytes into the ring as far as it has room; retries shortly while some are left.
  flush() {
    const c = this.counters;
    let head = Atomics.load(c, 0);
    while (this.pending.length) {
      const free = this.ring.length - ((head - Atomics.load(c, 1)) | 0);
      if (free === 0) break;
      const bytes = this.pending[0];
      const n = Math.min(free, bytes.length);
      this.copyIn(bytes.subarray(0, n), head & this.mask);
      head = (head + n) | 0;
      if (n === bytes.length) this.pending.shift();
      else this.pending[0] = bytes.subarray(n);
    }
    Atomics.store(c, 0, head);
    if (!this.pending.length && this.closing) Atomics.store(c, 2, 1);
    Atomics.add(c, 3, 1);
    Atomics.notify(c, 3);
    if (this.pending.length && this.timer === null) {
      this.timer = setTimeout(() => {
        this.timer = null;
        this.flush();
      }, 1);
    }
  }

  copyIn(bytes, at) {
    const first = Math.min(bytes.length, this.ring.length - at);
    this.ring.set(bytes.subarray(0, first), at);
    this.ring.set(bytes.subarray(first), 0);
  }

  // Reader: whether a read would return at once (bytes waiting, or the end of input).
  waiting() {
    const c = this.counters;
    return Atomics.load(c, 0) !== Atomics.load(c, 1) || Atomics.load(c, 2) !== 0;
  }

  // Reader: copies up to n bytes into target (a Uint8Array) at offset, waiting until there are some;
  // returns the count, 0 at the end of input.
  read(target, offset, n) {
    const c = this.counters;
    const tail = Atomics.load(c, 1);
    for (;;) {
      const signal = Atomics.load(c, 3);
      const head = Atomics.load(c, 0);
      const used = (head - tail) | 0;
      if (used > 0) {
        const count = Math.min(used, n);
        const at = tail & this.mask;
        const first = Math.min(count, this.ring.length - at);
        target.set(this.ring.subarray(at, at + first), offset);
        target.set(this.ring.subarray(0, count - first), offset + first);
        Atomics.store(c, 1, (tail + count) | 0);
        return count;
      }
      // The end mark follows the writer's last bytes: once it is seen, a second look at the count is final.
      if (Atomics.load(c, 2) !== 0) {
        if (Atomics.load(c, 0) === tail) return 0;
        continue;
      }
      Atomics.wait(c, 3, signal);
    }
  }
}
