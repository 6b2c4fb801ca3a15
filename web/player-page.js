// SPDX-License-Identifier: MIT
// The script of a web message: the player's view, and the message this page holds opened in it
// as if the person had picked its carrier.
//
// The payload is the base64 in the slot (the block quira-message) and the closing comment at
// the file's very end says how long it is and which player it stood behind (include/quira/
// quira.h, "Web messages"). The base64 is decoded here a run at a time into the parts of a Blob,
// which the player's workers read as the bare payload; nothing of it is run, nothing is fetched.
// A page whose payload is cut short or whose comment does not match it says so as the player
// says it of a damaged file; the player page as built, with no message in it, says that.
import "./player-view.js";
import {QUIRA_ERR_DAMAGED, QUIRA_WEB_TRAILER_CHARS} from "./quira-h.js";
import {$, notice} from "./shared.js";
import {words} from "./i18n.js";
import {open, refuse} from "./player.js";
import {SLOT_TAIL_BYTES} from "./player-page-layout.js";

const RUN_CHARS = 1 << 16;  // base64 decoded at a time: whole groups of four characters
const TRAILER = /^ quira-message at=(\d{15}) bytes=(\d{15}) player=([0-9a-f]{64}) $/;

// The page's own file name, which the downloads are named after: x.html gives x.wav, x.mp3.
const UNNAMED = "quira-message.html";
function pageName() {
  const last = location.pathname.split("/").pop();
  try {
    return decodeURIComponent(last) || UNNAMED;
  } catch (e) {
    return last || UNNAMED;
  }
}

// The closing comment's fields, or null: the last comment of the document, after </html>.
function trailer() {
  for (let node = document.lastChild; node; node = node.previousSibling) {
    if (node.nodeType !== Node.COMMENT_NODE) continue;
    const m = TRAILER.exec(node.data);
    return m ? {at: Number(m[1]), bytes: Number(m[2]), playerSha256: m[3]} : null;
  }
  return null;
}

// The slot's base64 as Blob parts, decoded a run at a time, and its count of characters; null
// when a character is not base64 or the padding stands anywhere but at the end.
function decoded(slot) {
  const parts = [];
  let chars = 0;
  let carry = "";
  let padded = false;  // padding seen: it ends the base64
  const decode = (text) => {
    if (padded) throw new Error("base64 after its padding");
    padded = text.endsWith("=");
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    parts.push(bytes);
  };
  try {
    // The parser may have split a long text into several nodes.
    for (const node of slot.childNodes) {
      const text = node.data || "";
      chars += text.length;
      for (let at = 0; at < text.length; at += RUN_CHARS) {
        const run = carry + text.slice(at, at + RUN_CHARS);
        const whole = run.length - (run.length % 4);
        if (whole) decode(run.slice(0, whole));
        carry = run.slice(whole);
      }
    }
    if (carry) return null;
  } catch (e) {
    return null;  // atob's InvalidCharacterError, or text after the padding
  }
  return {parts, chars};
}

function openHeld() {
  const slot = $("quira-message");
  const found = trailer();
  const name = pageName();
  if (!slot.firstChild && !found) {
    notice($("notice"), words("message.empty"));
    return;
  }
  const payload = found && decoded(slot);
  const size = found ? found.at + (payload ? payload.chars : 0) + SLOT_TAIL_BYTES + QUIRA_WEB_TRAILER_CHARS : 0;
  const blob = payload && new Blob(payload.parts);
  if (!blob || blob.size !== found.bytes) {
    refuse({name, size}, QUIRA_ERR_DAMAGED, {key: "status.damaged"});
    return;
  }
  open(blob, {name, size, playerSha256: found.playerSha256});
}

if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", openHeld);
else openHeld();
