// SPDX-License-Identifier: MIT
// What the page's workers share: the library's module instantiated from the module the page
// compiled (emscripten's loader, QuiraModule, stands before the worker's script), text and JSON
// out of its memory, a File read in slices, and the page's messages handled one at a time, in
// order, each by the handler named by its op.
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
  key: `status.${QUIRA_STATUS_NAMES[Math.abs(status)] || "unknown"}`,
  params: {bytes: QUIRA_PAYLOAD_OFFSET},
});

const fileReader = new FileReaderSync();

// Bytes from to to of file.
export const readSlice = (file, from, to) => new Uint8Array(fileReader.readAsArrayBuffer(file.slice(from, to)));

// A File read through a cached slice of sliceBytes, into the module's memory.
export class SlicedFile {
  constructor(file, sliceBytes) {
    this.file = file;
    this.sliceBytes = sliceBytes;
    this.at = 0;
    this.bytes = new Uint8Array(0);
  }

  // n bytes at offset into heap at pointer: how many (0 at the end), or -1 when the file cannot
  // be read (it changed or vanished since it was picked).
  readInto(heap, offset, pointer, n) {
    try {
      let done = 0;
      while (done < n && offset + done < this.file.size) {
        const at = offset + done;
        if (at < this.at || at >= this.at + this.bytes.length) {
          this.at = at - (at % this.sliceBytes);
          this.bytes = readSlice(this.file, this.at, this.at + this.sliceBytes);
          if (this.bytes.length === 0) break;
        }
        const from = at - this.at;
        const count = Math.min(n - done, this.bytes.length - from);
        heap.set(this.bytes.subarray(from, from + count), pointer + done);
        done += count;
      }
      return done;
    } catch (e) {
      return -1;
    }
  }
}

// Handles the page's messages with handlers[m.op], strictly in order, even across the module's
// first loading; a handler that throws is answered {op: "failed", what, error}.
export function serve(handlers) {
  let queue = Promise.resolve();
  self.onmessage = (event) => {
    const m = event.data;
    queue = queue.then(() => handlers[m.op](m)).catch((e) => postMessage({op: "failed", what: m.op, error: String(e)}));
  };
}
