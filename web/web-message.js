// SPDX-License-Identifier: MIT
// Writing a web message: the player page with a payload inside, byte for byte the file that
// `quira export message.exe -o message.html` writes for the same payload and player.
//
//   const blob = await webMessageBlob(payload, playerSha256);
//
// payload: a Blob of the message's payload, the 12-byte header and the blocks (what stands
// behind the player in a carrier: carrier.slice(QUIRA_PAYLOAD_OFFSET)); playerSha256: the
// SHA-256, as 64 hex digits, of the player the payload stands behind (the header facts'
// player_sha256; for a carrier this page makes, the embedded player's). Resolves to a Blob of
// type text/html, made of parts: the player page up to its slot, the payload's base64 a slice at
// a time, the rest of the page and the closing comment the library writes
// (quira_web_trailer), so that no copy of the whole message is ever made as one string.
//
// The page carries the player page as a template (build-page.py, "Template"): the player page's
// own parts as text, and what it shares with this page named by where this page holds it.
// Only a page that carries it can write web messages (webMessagesWritable).
import {$, newWorker} from "./shared.js";

// The slot's opening tag: the payload's base64 goes right after it (tool/output/web_output.h).
// Written in two pieces: the player page holds this script too, and must hold the tag once.
const SLOT = "<script" + ' type="application/octet-stream" id="quira-message">';
const SLICE_BYTES = 3 * (1 << 16);  // payload read and written a slice at a time, whole base64 groups
const PIECE_BYTES = 3 * (1 << 13);  // bytes turned into characters at a time for btoa

// Whether this page carries the player page, and so can write web messages.
export const webMessagesWritable = () => Boolean($("quira-player-page"));

// The player page, put together from its template: [head up to and with the slot's opening
// tag, the rest].
function playerPage() {
  const escape = (text) => text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
  const items = JSON.parse($("quira-player-page").textContent);
  const text = items.map((item) => {
    if (typeof item === "string") return item;
    const [id, start, end, escaped] = item;
    const run = $(id).textContent.slice(start, end);
    return escaped ? escape(run) : run;
  }).join("");
  const at = text.lastIndexOf(SLOT) + SLOT.length;
  return [text.slice(0, at), text.slice(at)];
}

function base64(bytes) {
  let text = "";
  for (let i = 0; i < bytes.length; i += PIECE_BYTES) {
    text += btoa(String.fromCharCode.apply(null, bytes.subarray(i, i + PIECE_BYTES)));
  }
  return text;
}

// The closing comment, from the library in a worker of its own: the format is the library's.
async function trailer(at, bytes, playerSha256) {
  const worker = await newWorker("quira-worker");
  try {
    return await new Promise((resolve, reject) => {
      worker.onmessage = (event) => {
        if (event.data.op === "trailer") resolve(event.data.text);
        else if (event.data.op === "failed") reject(new Error(event.data.error));
      };
      worker.postMessage({op: "trailer", at, bytes, playerSha256});
    });
  } finally {
    worker.terminate();
  }
}

export async function webMessageBlob(payload, playerSha256) {
  if (!/^[0-9a-f]{64}$/.test(playerSha256)) throw new Error("a player's digest is 64 hex digits");
  const [head, tail] = playerPage();
  // The base64 begins right after the head: its length in UTF-8, as the file is written.
  const headBytes = new TextEncoder().encode(head);
  const parts = [headBytes];
  for (let at = 0; at < payload.size; at += SLICE_BYTES) {
    parts.push(base64(new Uint8Array(await payload.slice(at, at + SLICE_BYTES).arrayBuffer())));
  }
  const closing = await trailer(headBytes.length, payload.size, playerSha256);
  if (!closing) throw new Error("the library refused the closing comment");
  parts.push(tail, closing);
  return new Blob(parts, {type: "text/html"});
}
