// SPDX-License-Identifier: MIT
// What the page's views share: the WebAssembly module (compiled once, whichever view starts a
// worker first), the workers and worklets whose scripts the page holds inline, the one way of
// writing lengths of time, clocks and effects, downloads, and notices. Nothing here runs until
// it is called: a page may import it without the views it does not have.
import {fixed, padded, say, words} from "./i18n.js";
import {QUIRA_LEVEL_MAX, QUIRA_LEVEL_MIN} from "./quira-h.js";
import {inflated} from "./inflate.js";

export const $ = (id) => document.getElementById(id);

// An effect level slider over the library's range of levels, at value.
export function levelSlider(input, value) {
  input.min = String(QUIRA_LEVEL_MIN);
  input.max = String(QUIRA_LEVEL_MAX);
  input.value = String(value);
}

// How long a start of sound waits for the browser's sound output: without a sound device a
// browser may keep its audio context suspended for good (resume() never settles), or run a clock
// that never moves. Then the page says so and stays usable.
export const SOUND_WAIT_MS = 3000;

let compiled = null;

// The library's module, compiled once from the base64 text the page holds, for every worker.
// A page may hold it deflated (data-compression="deflate", the zlib format), as a web message's
// does, to be small: the browser inflates it.
export function wasmModule() {
  if (!compiled) {
    const element = $("quira-wasm");
    if (element.dataset.compression === "deflate") {
      compiled = inflated(element.textContent).then((module) => WebAssembly.compile(module));
    } else {
      const binary = atob(element.textContent.trim());
      const bytes = new Uint8Array(binary.length);
      for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
      compiled = WebAssembly.compile(bytes);
    }
  }
  return compiled;
}

const urls = new Map();

// A blob address for the script the page holds in the inert block of that id.
function scriptUrl(id) {
  if (!urls.has(id)) urls.set(id, URL.createObjectURL(new Blob([$(id).textContent], {type: "text/javascript"})));
  return urls.get(id);
}

// A worker running the script of block id, handed the library's module to instantiate.
export async function newWorker(id) {
  const module = await wasmModule();
  const worker = new Worker(scriptUrl(id));
  worker.postMessage({op: "load", module});
  return worker;
}

// Marks a button unavailable while the page works, without taking it out of the focus order as
// `disabled` would: a person who pressed it keeps their place rather than being dropped to the
// page's start, and a screen reader says it is unavailable. Its handler ignores it meanwhile.
export function hold(button, yes) {
  if (yes) button.setAttribute("aria-disabled", "true");
  else button.removeAttribute("aria-disabled");
}
export const held = (button) => button.getAttribute("aria-disabled") === "true";

// Reads the slice of file a worker asked for ({op: "read", id, at, size}) and hands its bytes
// over: the page's thread can read a picked file in every browser, a worker cannot in all (see
// worker-core.js, PageFile). A file that can no longer be read (moved, changed, deleted since it
// was picked) is answered with what the browser said.
export function answerRead(worker, file, m) {
  file.slice(m.at, m.at + m.size).arrayBuffer().then(
    (bytes) => worker.postMessage({op: "slice", id: m.id, bytes}, [bytes]),
    (e) => worker.postMessage({op: "slice", id: m.id, error: `${e.name}: ${e.message}`}));
}

// Adds the worklet script of block id to an audio context.
export async function addWorklet(context, id) {
  try {
    await context.audioWorklet.addModule(scriptUrl(id));
  } catch (e) {
    // A page opened from disk has no origin, and its blobs are foreign to its worklet.
    await context.audioWorklet.addModule("data:text/javascript," + encodeURIComponent($(id).textContent));
  }
}

// ---- Writing numbers and time ------------------------------------------------------------

// A length of time, as words: "4.2 s" below a minute, else "3 min 05 s" (in English).
export function seconds(t) {
  if (t < 59.95) return words("time.seconds", {n: fixed(t, 1)});
  const s = Math.round(t);
  return words("time.minutes", {m: Math.floor(s / 60), s: padded(s % 60, 2)});
}

// A clock as the player's title writes it: "HH:MM:SS", whole seconds, hours widening past 99.
export function clock(t) {
  const s = Math.max(0, Math.floor(t));
  const two = (n) => String(n).padStart(2, "0");
  return `${two(Math.floor(s / 3600))}:${two(Math.floor(s / 60) % 60)}:${two(s % 60)}`;
}

// An effect's name, family and sound as words: the library's are English identifiers and
// sentences, the catalogues' are the reader's.
export const effectName = (effect) => words(`effect.${effect.name}.name`);
export const effectAbout = (effect) => words(`effect.${effect.name}.about`);
export const familyWords = (effect) => words(`family.${effect.family}`);

// ---- Showing and saving --------------------------------------------------------------------

// Shows the words (from words()) in a notice element, or hides it for none.
export function notice(element, said) {
  if (said) say(element, said.key, said.params);
  else say(element, null);
  element.hidden = !said;
}

// Hands blob to the browser as a download named name.
export function download(blob, name) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}
