// SPDX-License-Identifier: MIT
// The new-message view's worker: the recording, as it arrives, into two makers (32 and 16
// kbit/s), so that effect, level and bit rate can be chosen after it; then previews (the
// message as heard from a maker's carrier, through the real effect) and the carrier's bytes.
//
// A WAV file is read here, in slices, and its samples converted as libsndfile converts them
// for `quira make` (16-bit PCM: the value over 32,768), so that the page's carrier is the tool's;
// memory stays small whatever the file's length. Other recordings arrive as float samples from
// the page (the microphone, or what the browser decoded).
//
// Messages from the page are handled one at a time, in order; each answer names its op.
import {QUIRA_ERR_MEMORY, QUIRA_ERR_READ, QUIRA_ERR_TOO_LONG, QUIRA_OK, QUIRA_SAMPLE_RATE} from "./quira-h.js";
import {MAX_SECONDS} from "./limits.js";
import {wavFormat, wavSamples} from "./sniff.js";
import {PageFile, jsonAt, loadLibrary, serve, statusWords} from "./worker-core.js";

const MAKER_RATES = [32, 16];      // kbit/s: a maker for each
const SILENT_PEAK = 1 / 1024;      // below -60 dBFS at its loudest, a recording holds no voice
const FEED_FRAMES = 16384;         // frames handed to the makers at a time
const CARRIER_SLICE = 1 << 20;     // bytes read out of a maker at a time
const PREVIEW_SAMPLES = QUIRA_SAMPLE_RATE;  // samples of a preview read at a time: a second

let Q = null;                      // the module

const making = {
  makers: {},       // kbps -> the maker's address
  rate: 0,
  channels: 0,
  frames: 0,        // sample frames fed
  declared: -1,     // the frames a WAV file's header declares, when it holds fewer
  peak: 0,          // the loudest sample fed, full scale 1
  status: QUIRA_OK, // the first failure
  input: 0,         // module memory for FEED_FRAMES frames
  finished: null,   // what finishing found
};

function makerStatus(status, what) {
  if (status && !making.status) making.status = status;
  return making.status ? {op: what, status: making.status, error: statusWords(making.status)} : null;
}

function makersFree() {
  Q._web_preview_close();
  for (const kbps of MAKER_RATES) Q._web_maker_free(making.makers[kbps] || 0);
  making.makers = {};
  if (making.input) Q._free(making.input);
  making.input = 0;
}

function makersStart(rate, channels) {
  makersFree();
  Object.assign(making, {rate, channels, frames: 0, declared: -1, peak: 0, status: QUIRA_OK, finished: null});
  const status = Q._malloc(4);
  for (const kbps of MAKER_RATES) {
    making.makers[kbps] = Q._web_maker_new(rate, channels, kbps, status);
    makerStatus(Q.HEAP32[status >> 2]);
  }
  Q._free(status);
  // The input buffer once the makers took the channel count (up to 1,024: 64 MB at most), and
  // never used without it: a failed allocation is the makers' failure.
  if (!making.status) {
    making.input = Q._malloc(FEED_FRAMES * channels * 4);
    if (!making.input) makerStatus(QUIRA_ERR_MEMORY);
  }
}

// Feeds interleaved float samples (a Float32Array) to both makers.
function makersWrite(samples) {
  const channels = making.channels;
  for (let at = 0; at < samples.length && !making.status; at += FEED_FRAMES * channels) {
    const part = samples.subarray(at, Math.min(samples.length, at + FEED_FRAMES * channels));
    for (let i = 0; i < part.length; i++) {
      const v = Math.abs(part[i]);
      if (v > making.peak) making.peak = v;
    }
    Q.HEAPF32.set(part, making.input >> 2);
    for (const kbps of MAKER_RATES) makerStatus(Q._web_maker_write(making.makers[kbps], making.input, part.length / channels));
    making.frames += part.length / channels;
  }
}

function makersFinish() {
  if (!making.status) for (const kbps of MAKER_RATES) makerStatus(Q._web_maker_finish(making.makers[kbps]));
  const m = making.makers[MAKER_RATES[0]];
  making.finished = {
    op: "finished",
    status: making.status,
    error: making.status ? statusWords(making.status) : null,
    frames: making.frames,
    rate: making.rate,
    silent: !making.status && making.peak < SILENT_PEAK,
    peak: making.peak,
    voiceSamples: making.status ? 0 : Q._web_maker_voice_samples(m),
    // What was mended on the way, said as `quira make` says it: both makers took the same samples.
    notNumbers: m ? Q._web_maker_not_numbers(m) : 0,
    clipped: m ? Q._web_maker_clipped(m) : 0,
    declared: making.declared,
    sizes: making.status ? {} : Object.fromEntries(MAKER_RATES.map((k) => [k, Q._web_maker_size(making.makers[k])])),
  };
  postMessage(making.finished);
}

// ---- WAV files ---------------------------------------------------------------------------

let wav = null;   // the WAV file being read, as a PageFile

async function makeFromWav(file) {
  wav = new PageFile(file, 0);
  let head;
  try {
    head = await wav.bytes(0, 1 << 16);
  } catch (e) {
    return postMessage({op: "wav-format", format: null});  // the browser's decoder says why
  }
  const format = wavFormat(head);
  if (!format) return postMessage({op: "wav-format", format: null});
  // The length the header gives, and no more than the file holds.
  const frames = Math.min(format.frames, Math.floor((file.size - format.dataAt) / format.frameBytes));
  postMessage({op: "wav-format", format: {rate: format.rate, channels: format.channels, frames}});
  if (frames / format.rate > MAX_SECONDS) {
    return postMessage({op: "finished", status: QUIRA_ERR_TOO_LONG, error: statusWords(QUIRA_ERR_TOO_LONG), frames, rate: format.rate});
  }
  makersStart(format.rate, format.channels);
  // A header that promises more than the file holds (a copy cut short): made from what it holds.
  if (format.frames > frames) making.declared = format.frames;
  const step = FEED_FRAMES * format.frameBytes;
  const end = format.dataAt + frames * format.frameBytes;
  let lastPost = Date.now();
  for (let at = format.dataAt; at < end && !making.status; at += step) {
    let bytes;
    try {
      bytes = await wav.bytes(at, Math.min(end, at + step));
    } catch (e) {
      makerStatus(QUIRA_ERR_READ);  // the file changed or vanished since it was picked
      break;
    }
    if (bytes.length === 0) break;
    makersWrite(wavSamples(format, bytes.subarray(0, bytes.length - bytes.length % format.frameBytes)));
    if (Date.now() - lastPost > 200) {
      postMessage({op: "progress", frames: making.frames, of: frames});
      lastPost = Date.now();
    }
  }
  makersFinish();
}

// ---- Reading the made carrier ---------------------------------------------------------------

function carrier(kbps, code, level) {
  const maker = making.makers[kbps];
  const size = Q._web_maker_size(maker);
  const buffer = Q._malloc(CARRIER_SLICE);
  const parts = [];
  for (let at = 0; at < size;) {
    const got = Q._web_maker_read(maker, at, buffer, CARRIER_SLICE, code, level);
    if (got <= 0) break;
    parts.push(Q.HEAPU8.slice(buffer, buffer + got));
    at += got;
  }
  Q._free(buffer);
  return new Blob(parts, {type: "application/vnd.microsoft.portable-executable"});
}

let previewBuffer = 0;

serve({
  async load(m) {
    if (!Q) Q = await loadLibrary(m.module);
  },
  effects() {
    postMessage({op: "effects", effects: jsonAt(Q, Q._web_effects_json()),
                 playerSha256: Q.UTF8ToString(Q._web_embedded_player_sha256())});
  },
  "maker-start"(m) {
    makersStart(m.rate, m.channels);
    const failed = makerStatus(0, "started");
    postMessage(failed || {op: "started", status: QUIRA_OK});
  },
  // Samples from the page; answered, so that the page can keep only a few in flight.
  "maker-write"(m) {
    if (!making.status) makersWrite(m.samples);
    postMessage({op: "written", id: m.id, frames: making.frames, status: making.status,
                 error: making.status ? statusWords(making.status) : null});
  },
  "maker-finish"() {
    makersFinish();
  },
  "maker-wav": (m) => makeFromWav(m.file),
  "maker-carrier"(m) {
    postMessage({op: "carrier", blob: carrier(m.kbps, m.code, m.level), kbps: m.kbps, code: m.code, level: m.level});
  },
  // The message as heard with an effect, in parts of a second, each asked for.
  "preview-open"(m) {
    if (!previewBuffer) previewBuffer = Q._malloc(PREVIEW_SAMPLES * 2);
    const status = Q._web_preview_open(making.makers[m.kbps], m.code, m.level);
    postMessage({op: "preview-opened", id: m.id, status, error: status ? statusWords(status) : null});
  },
  "preview-read"(m) {
    const got = Q._web_preview_read(previewBuffer, PREVIEW_SAMPLES);
    const samples = got > 0 ? Q.HEAP16.slice(previewBuffer >> 1, (previewBuffer >> 1) + got) : new Int16Array(0);
    postMessage({op: "preview-samples", id: m.id, samples, error: got < 0 ? statusWords(got) : null}, [samples.buffer]);
  },
  "preview-close"() {
    Q._web_preview_close();
  },
}, () => wav);
