// SPDX-License-Identifier: MIT
// What the page's workers share: the library's module instantiated from the module the page
// compiled (emscripten's loader, QuiraModule, stands before the worker's script), text and JSON
// out of its memory, a File read in slices by the page for the worker, and the page's messages
// handled one at a time, in order, each by the handler named by its op.
import {QUIRA_PAYLOAD_OFFSET, QUIRA_STATUS_NAMES} from "./quira-h.js";

// The library's module for this worker. hooks.readAt, when given, is what the library reads a
// carrier through (glue.c's web_file_read).
export async function loadLibrary(compiled, hooks) {
  return QuiraModule(Object.assign({
    instantiateWasm(imports, done) {
      WebAssembly.instantiate(compiled, imports).then((instance) => done(instance));
      return {};
    },
  }, hooks || {}));
}

export const textAt = (Q, pointer) => Q.UTF8ToString(pointer);
export const jsonAt = (Q, pointer) => JSON.parse(Q.UTF8ToString(pointer));
// What the page says of a status: the key of its words in the page's catalogues, which the page
// writes in its reader's language (the library's own sentences are English).
export const statusWords = (status) => ({
  key: `status.${QUIRA_STATUS_NAMES[status] || "unknown"}`,
  params: {bytes: QUIRA_PAYLOAD_OFFSET},
});

// A File the page reads for this worker, a slice at a time. In WebKit a worker of a page opened
// from disk cannot read any Blob (every read fails with NotReadableError), while the page's own
// thread can, in every browser: so the worker asks the page for each slice ({op: "read", id, at,
// size}) and the page hands its bytes over ({op: "slice", id, bytes}, transferred, or {op:
// "slice", id, error}). The SLICES slices used last are kept, so memory stays the same whatever
// the file's length; the slice after the one being read is asked for ahead of need.
const SLICES = 4;
export const READ_LATER = -2;  // readInto: the slice must come from the page first

export class PageFile {
  constructor(file, sliceBytes) {
    this.size = file.size;
    this.sliceBytes = sliceBytes;
    this.slices = new Map();   // start -> bytes, the one used last at the end
    this.coming = new Map();   // start -> promise of its bytes
    this.asked = new Map();    // request id -> {resolve, reject}
    this.nextId = 1;
    this.error = null;         // what the browser said when a read failed
  }

  // The page's answer to a request.
  receive(m) {
    const request = this.asked.get(m.id);
    if (!request) return;
    this.asked.delete(m.id);
    if (m.error) request.reject(new Error(m.error));
    else request.resolve(new Uint8Array(m.bytes));
  }

  // Bytes from to to, read by the page (at most to - from of them: fewer at the file's end).
  bytes(from, to) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.asked.set(id, {resolve, reject});
      postMessage({op: "read", id, at: from, size: to - from});
    });
  }

  // The slice beginning at start, asked for once however many wait for it.
  fetch(start) {
    if (!this.coming.has(start)) {
      const coming = this.bytes(start, Math.min(this.size, start + this.sliceBytes)).then((bytes) => {
        this.coming.delete(start);
        this.slices.set(start, bytes);
        while (this.slices.size > SLICES) this.slices.delete(this.slices.keys().next().value);
        return bytes;
      }, (e) => {
        this.coming.delete(start);
        this.error = String(e.message || e);
        throw e;
      });
      coming.catch(() => {});
      this.coming.set(start, coming);
    }
    return this.coming.get(start);
  }

  // n bytes at offset into the module's memory at pointer, from the slices held: how many (0 at
  // the end), or READ_LATER when a slice must come from the page first.
  readInto(Q, offset, pointer, n) {
    let done = 0;
    while (done < n && offset + done < this.size) {
      const at = offset + done;
      const start = at - (at % this.sliceBytes);
      const bytes = this.slices.get(start);
      if (!bytes) {
        this.fetch(start);
        return READ_LATER;
      }
      this.slices.delete(start);  // the one used last
      this.slices.set(start, bytes);
      const next = start + this.sliceBytes;
      if (next < this.size && !this.slices.has(next)) this.fetch(next);
      const from = at - start;
      const count = Math.min(n - done, bytes.length - from);
      if (count <= 0) break;
      Q.HEAPU8.set(bytes.subarray(from, from + count), pointer + done);
      done += count;
    }
    return done;
  }

  // The same once every slice it needs is here: how many, or -1 when the page could not read
  // the file (it changed or vanished since it was picked).
  async readLater(Q, offset, pointer, n) {
    try {
      const last = Math.min(this.size, offset + n) - 1;
      for (let at = offset - (offset % this.sliceBytes); at <= last; at += this.sliceBytes) await this.fetch(at);
    } catch (e) {
      return -1;
    }
    const got = this.readInto(Q, offset, pointer, n);
    return got === READ_LATER ? this.readLater(Q, offset, pointer, n) : got;
  }
}

// The module's hooks that read through file() (a PageFile, or null with none open).
export const readHooks = (file, Q) => ({
  readAt: (offset, pointer, n) => (file() ? file().readInto(Q(), offset, pointer, n) : -1),
  readLater: (offset, pointer, n) => (file() ? file().readLater(Q(), offset, pointer, n) : Promise.resolve(-1)),
});

// Calls of the module's exported functions that may read the carrier (and so wait for the page):
// each, under its name, an async function of numbers.
export function readingCalls(Q, names) {
  const calls = {};
  for (const name of names) calls[name] = (...args) => Q.ccall(name, "number", args.map(() => "number"), args, {async: true});
  return calls;
}

// Handles the page's messages with handlers[m.op], strictly in order, even across the module's
// first loading; a handler that throws is answered {op: "failed", what, error}. Slices the page
// read go at once to file() (a PageFile), whose reads a handler may be waiting on. Returns a
// function that puts other work (from the sound output) in the same order: the module serves one
// call at a time, and a call may wait for a slice.
export function serve(handlers, file) {
  let queue = Promise.resolve();
  const enqueue = (what, work) => {
    queue = queue.then(work).catch((e) => postMessage({op: "failed", what, error: String(e)}));
  };
  self.onmessage = (event) => {
    const m = event.data;
    if (m.op === "slice") {
      if (file && file()) file().receive(m);
      return;
    }
    enqueue(m.op, () => handlers[m.op](m));
  };
  return enqueue;
}
