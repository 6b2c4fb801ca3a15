// SPDX-License-Identifier: MIT
// The new-message part's state and its I/O, without any of the page's elements: the maker's
// worker (maker-worker.js, which holds two makers, one per bit rate, fed as the recording
// arrives), the recording from the microphone (capture.js) or from a file (read by the worker
// when it is a WAV file, else decoded by the browser), the previews played through Web Audio,
// and the carrier made, or the web message of it (web-message.js). A view (maker-view.js) shows `maker` and calls the verbs below; what
// changes is told to the function given to listen, as {what, ...}:
//   effects                the worker listed the effects (maker.effects)
//   busy                   recording or reading a file began or ended (maker.busy)
//   begin                  a new recording begins: what was shown of the last one goes
//   reading/decoding/making {file}  a picked file is read, decoded by the browser, made
//   progress {fraction}    how far: null hides it, undefined when it cannot be told
//   recording {on}         the microphone records, or stopped
//   finishing              the recording stopped; what the microphone still held is coming
//   finished {file, why, error}  the makers hold the recording (maker.source), or why not:
//                          "too-long", "no-sound", "silent", "failed" (error: the library's)
//   full                   the recording stopped at the longest the page makes
//   refused {why, name, error}  the microphone could not record ("refused", "none",
//                          "unsupported", "busy" with the browser's name), a file could not be
//                          decoded ("undecodable"), a worker or a preview failed ("failed")
//   preview {which, on}    a preview ("dry" or "effect") started or stopped
import {
  QUIRA_ERR_NO_SAMPLES, QUIRA_ERR_STATE, QUIRA_ERR_TOO_LONG, QUIRA_PAYLOAD_OFFSET, QUIRA_SAMPLE_RATE,
} from "./quira-h.js";
import {CHUNK_FRAMES, addCaptureWorklet, capture, openMicrophone} from "./capture.js";
import {MAX_SECONDS} from "./limits.js";
import {SOUND_WAIT_MS, answerRead, newWorker} from "./shared.js";
import {fileRate} from "./sniff.js";
import {observe} from "./testing.js";
import {webMessageBlob} from "./web-message.js";

const IN_FLIGHT = 4;              // pieces of a decoded file on their way to the worker
const PREVIEW_AHEAD = 1.5;        // seconds of preview scheduled ahead of the one heard

// What the view shows. Only this module changes it.
export const maker = {
  effects: [],
  playerSha256: "",   // the digest of the player the carriers made here begin with, in hex
  busy: false,        // recording or making from a file
  // What the makers hold once finished: {file (null for the microphone), seconds, sizes, rate, frames,
  // mended: {notNumbers, clipped, declared (frames a cut-short WAV file declares, or null)}}
  source: null,
  recording: null,    // {frames, rate, channels, peak, stopping, ...} while the microphone records
};

let tell = () => {};

// Changes are told to listener from now on.
export function listen(listener) {
  tell = listener;
}

// ---- The worker ----------------------------------------------------------------------------

let worker = null;
let workerReady = null;
const waiting = new Map();   // answers awaited, by op (and id)
let nextId = 1;

// Starts the worker and has it list the effects; a page opened only to play a message never
// calls it.
export function startWorker() {
  if (workerReady) return workerReady;
  workerReady = (async () => {
    worker = await newWorker("quira-maker-worker");
    worker.onmessage = (event) => fromWorker(event.data);
    const effects = await ask({op: "effects"}, "effects");
    maker.effects = effects.effects;
    maker.playerSha256 = effects.playerSha256;
    tell({what: "effects"});
  })();
  return workerReady;
}

// The next answer op from the worker (with id, when the question had one).
const answer = (op, id) => new Promise((resolve) => waiting.set(id ? `${op}:${id}` : op, resolve));

// Sends m and waits for the answer op.
function ask(m, op) {
  const answered = answer(op, m.id);
  worker.postMessage(m, m.samples ? [m.samples.buffer] : []);
  return answered;
}

let wavFile = null;   // the WAV file the worker reads, a slice at a time, through the page

function fromWorker(m) {
  if (m.op === "read") return answerRead(worker, wavFile, m);
  const key = m.id ? `${m.op}:${m.id}` : m.op;
  if (m.op === "progress") return progress(m.frames / m.of);
  if (m.op === "failed") {
    // Whatever waited for the worker learns that it failed.
    for (const resolve of waiting.values()) resolve({status: QUIRA_ERR_STATE, error: m.error, samples: new Int16Array(0)});
    waiting.clear();
    setBusy(false);
    progress(null);
    return refuse({why: "failed", error: m.error});
  }
  const resolve = waiting.get(key);
  if (resolve) {
    waiting.delete(key);
    resolve(m);
  }
}

// ---- What is told --------------------------------------------------------------------------

function refuse(m) {
  observe("making", {refused: m});
  tell({what: "refused", ...m});
}

const progress = (fraction) => tell({what: "progress", fraction});

function setBusy(yes) {
  maker.busy = yes;
  tell({what: "busy"});
}

// What the makers found when the recording ended: held, or refused.
function finished(m, file) {
  setBusy(false);
  progress(null);
  if (m.status || m.silent) {
    maker.source = null;
    const why = m.status === QUIRA_ERR_TOO_LONG ? "too-long"
      : m.status === QUIRA_ERR_NO_SAMPLES || (!m.status && m.frames === 0) ? "no-sound"
      : m.silent ? "silent" : "failed";
    observe("making", {refused: why});
    return tell({what: "finished", file, why, error: m.error});
  }
  // What was mended: samples made silent or clipped, and a header that promised more.
  const mended = {notNumbers: m.notNumbers || 0, clipped: m.clipped || 0, declared: m.declared >= 0 ? m.declared : null};
  maker.source = {file, seconds: m.voiceSamples / QUIRA_SAMPLE_RATE, sizes: m.sizes, rate: m.rate, frames: m.frames, mended};
  observe("making", {finished: {what: file ? file.name : "microphone", rate: m.rate, frames: m.frames,
                                voiceSamples: m.voiceSamples, peak: m.peak, ...mended}});
  tell({what: "finished", file});
}

function beginSource() {
  previewStop();
  maker.source = null;
  tell({what: "begin"});
}

// ---- Recording from the microphone ---------------------------------------------------------

let context = null;      // the part's audio context: previews, and capture by the worklet

// The part's audio context, running; throws {sound: reason} when the browser does not start it
// within SOUND_WAIT_MS (no sound device: its resume() may never settle). reason: what the browser
// said, or null.
async function audioContext() {
  if (!context) {
    context = new AudioContext({latencyHint: "interactive"});
    await addCaptureWorklet(context);
  }
  if (context.state !== "running") {
    let reason = null;
    const resumed = context.resume().catch((e) => { reason = `${e.name}: ${e.message}`; });
    await Promise.race([resumed, new Promise((done) => setTimeout(done, SOUND_WAIT_MS))]);
    if (context.state !== "running") throw Object.assign(new Error("no sound output"), {sound: reason});
  }
  return context;
}

let started = null;      // the makers' start, awaited before the first samples

export async function record() {
  if (maker.busy) return;
  beginSource();
  setBusy(true);
  let stream;
  try {
    stream = await openMicrophone();
  } catch (e) {
    setBusy(false);
    const why = e.name === "NotAllowedError" || e.name === "SecurityError" ? "refused"
      : e.name === "NotFoundError" || e.name === "OverconstrainedError" ? "none"
      : e.name === "NotSupportedError" ? "unsupported" : "busy";
    return refuse({why, name: e.name});
  }
  await startWorker();
  const rec = {stream, frames: 0, rate: 0, channels: 0, peak: 0, stopping: false, full: false, capture: null};
  maker.recording = rec;
  try {
    rec.capture = await capture(stream, audioContext, (m) => captured(rec, m));
  } catch (e) {
    // This browser records through its sound output, and that did not start.
    maker.recording = null;
    for (const track of stream.getTracks()) track.stop();
    setBusy(false);
    if (!("sound" in e)) throw e;
    return refuse({why: "sound", reason: e.sound});
  }
  tell({what: "recording", on: true});
}

function captured(rec, m) {
  if (m.end) return recordEnded(rec);
  if (!rec.channels) {
    rec.channels = m.channels;
    rec.rate = m.rate;
    observe("making", {recording: {rate: rec.rate, channels: rec.channels}});
    started = ask({op: "maker-start", rate: rec.rate, channels: m.channels}, "started");
  }
  rec.frames += m.samples.length / rec.channels;
  rec.peak = Math.max(rec.peak * 0.8, m.peak);
  worker.postMessage({op: "maker-write", samples: m.samples}, [m.samples.buffer]);
  if (rec.frames / rec.rate >= MAX_SECONDS) {
    rec.full = true;
    stopRecording();
  }
}

export function stopRecording() {
  const rec = maker.recording;
  if (!rec || rec.stopping) return;
  rec.stopping = true;
  tell({what: "finishing"});
  progress(undefined);
  // The processor's stream ends with its track; the worklet is told, and sends what it holds.
  rec.capture.finish();
  for (const track of rec.stream.getTracks()) track.stop();
}

async function recordEnded(rec) {
  rec.capture.close();
  maker.recording = null;
  tell({what: "recording", on: false});
  if (!rec.channels) return finished({frames: 0, status: QUIRA_ERR_NO_SAMPLES}, null);
  const start = await started;
  if (start.status) return finished(start, null);
  finished(await ask({op: "maker-finish"}, "finished"), null);
  if (rec.full && maker.source) tell({what: "full"});
}

// ---- A recording picked or dropped ---------------------------------------------------------

export async function pickRecording(file) {
  if (!file || maker.busy) return;
  beginSource();
  setBusy(true);
  tell({what: "reading", file});
  progress(0);
  await startWorker();
  // WAV files are read by the worker, in slices that the page reads for it, converted as `quira
  // make` converts them; it says so at once, or that the browser should decode this one.
  wavFile = file;
  const format = await ask({op: "maker-wav", file}, "wav-format");
  if (format.format) {
    tell({what: "making", file});
    return finished(await answer("finished"), file);
  }
  decodeAndMake(file);
}

async function decodeAndMake(file) {
  let buffer;
  try {
    tell({what: "decoding", file});
    progress(undefined);
    const bytes = await file.arrayBuffer();
    const rate = fileRate(new Uint8Array(bytes, 0, Math.min(bytes.byteLength, 1 << 20)));
    const decoding = new OfflineAudioContext(1, 1, rate >= 3000 && rate <= 768000 ? rate : 48000);
    buffer = await decoding.decodeAudioData(bytes);
  } catch (e) {
    setBusy(false);
    progress(null);
    return refuse({why: "undecodable", file});
  }
  if (buffer.duration > MAX_SECONDS) return finished({status: QUIRA_ERR_TOO_LONG}, file);
  const channels = buffer.numberOfChannels;
  const start = await ask({op: "maker-start", rate: buffer.sampleRate, channels}, "started");
  if (start.status) return finished(start, file);
  tell({what: "making", file});
  const data = [];
  for (let c = 0; c < channels; c++) data.push(buffer.getChannelData(c));
  const pending = [];
  for (let at = 0; at < buffer.length; at += CHUNK_FRAMES) {
    const n = Math.min(CHUNK_FRAMES, buffer.length - at);
    const samples = new Float32Array(n * channels);
    for (let c = 0; c < channels; c++) {
      const d = data[c];
      for (let i = 0; i < n; i++) samples[i * channels + c] = d[at + i];
    }
    pending.push(ask({op: "maker-write", samples, id: nextId++}, "written"));
    if (pending.length >= IN_FLIGHT) {
      const written = await pending.shift();
      if (written.status) break;
      progress(written.frames / buffer.length);
    }
  }
  await Promise.all(pending);
  buffer = null;
  finished(await ask({op: "maker-finish"}, "finished"), file);
}

// ---- Listening: the message as heard from the carrier the makers hold ----------------------

let preview = null;   // {which, id, next, nodes, ended, asking, timer}

// Plays the message as heard at choice's bit rate, dry or with its effect ("dry" or
// "effect"); the same again stops it.
export async function previewStart(which, choice) {
  const was = preview && preview.which;
  previewStop();
  if (was === which || !maker.source) return;
  const effect = which === "effect";
  let ctx;
  try {
    ctx = await audioContext();
  } catch (e) {
    if (!("sound" in e)) throw e;
    return refuse({why: "sound", reason: e.sound});
  }
  const id = nextId++;
  const opened = await ask({op: "preview-open", kbps: choice.kbps, code: effect ? choice.code : 0,
                            level: effect ? choice.level : 0, id}, "preview-opened");
  if (opened.status) return refuse({why: "failed", error: opened.error});
  preview = {which, id, next: ctx.currentTime + 0.1, nodes: [], ended: false, asking: false};
  tell({what: "preview", which, on: true});
  observe("making", {preview: {effect: effect ? choice.code : 0}});
  previewFill();
}

async function previewFill() {
  const p = preview;
  if (!p || p.asking || p.ended) return;
  while (preview === p && !p.ended && p.next - context.currentTime < PREVIEW_AHEAD) {
    p.asking = true;
    const m = await ask({op: "preview-read", id: p.id}, "preview-samples");
    p.asking = false;
    if (preview !== p) return;
    if (m.samples.length === 0) {
      p.ended = true;
      const left = Math.max(0, p.next - context.currentTime);
      p.timer = setTimeout(() => { if (preview === p) previewStop(); }, left * 1000 + 50);
      return;
    }
    observe("previewed", m.samples);
    const audio = context.createBuffer(1, m.samples.length, QUIRA_SAMPLE_RATE);
    const out = audio.getChannelData(0);
    for (let i = 0; i < out.length; i++) out[i] = m.samples[i] / 32768;
    const node = context.createBufferSource();
    node.buffer = audio;
    node.connect(context.destination);
    node.start(Math.max(p.next, context.currentTime));
    p.next = Math.max(p.next, context.currentTime) + audio.duration;
    p.nodes.push(node);
    node.onended = () => {
      p.nodes.splice(p.nodes.indexOf(node), 1);
      previewFill();
    };
  }
}

export function previewStop() {
  const p = preview;
  if (!p) return;
  preview = null;
  clearTimeout(p.timer);
  for (const node of p.nodes) node.stop();
  tell({what: "preview", which: p.which, on: false});
  if (worker) worker.postMessage({op: "preview-close"});
}

// ---- Making --------------------------------------------------------------------------------

// The carrier of the recording held, with choice {code, level, kbps}: a Blob, or null when the
// worker failed (and said so).
export async function make(choice) {
  previewStop();
  progress(undefined);
  const made = await ask({op: "maker-carrier", kbps: choice.kbps, code: choice.code, level: choice.level}, "carrier");
  progress(null);
  return made.blob || null;
}

// The web message of the recording held, with choice: the carrier's payload in the player page,
// the file `quira export` writes of the carrier make() gives. A Blob, or null when the worker
// failed (and said so); throws when the page could not write it.
export async function makeWeb(choice) {
  const carrier = await make(choice);
  if (!carrier) return null;
  return webMessageBlob(carrier.slice(QUIRA_PAYLOAD_OFFSET), maker.playerSha256);
}
