// The new-message view's worker: the recording, as it arrives, into two makers (32 and 16
// kbit/s), so that effect, level and bit rate can be chosen after it; then previews (the
// message as heard from a maker's carrier, through the real effect) and the carrier's bytes. It
// runs in the page's worker script, after worker.js, whose module (Q) and message handling it
// shares; the page starts it as a worker of its own.
//
// A WAV file is read here, in slices, and its samples converted as libsndfile converts them
// for `quira make` (16-bit PCM: the value over 32,768), so that the page's carrier is the tool's;
// memory stays small whatever the file's length. Other recordings arrive as float samples from
// the page (the microphone, or what the browser decoded).
"use strict";

const MAKER_RATES = [32, 16];      // kbit/s: a maker for each
const QUIRA_ERR_MEMORY = 2;        // the library's status for a failed allocation
const SILENT_PEAK = 1 / 1024;      // below -60 dBFS at its loudest, a recording holds no voice
const FEED_FRAMES = 16384;         // frames handed to the makers at a time
const CARRIER_SLICE = 1 << 20;     // bytes read out of a maker at a time
const MAX_SECONDS = 12 * 3600;     // the page's limit (both makers hold their frames in memory)

const making = {
  makers: {},       // kbps -> the maker's address
  rate: 0,
  channels: 0,
  frames: 0,        // sample frames fed
  peak: 0,          // the loudest sample fed, full scale 1
  status: 0,        // the first failure
  input: 0,         // module memory for FEED_FRAMES frames
  finished: null,   // what finishing found
};

function makerStatus(status, what) {
  if (status && !making.status) making.status = status;
  return making.status ? {op: what, status: making.status, error: statusText(making.status)} : null;
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
  Object.assign(making, {rate, channels, frames: 0, peak: 0, status: 0, finished: null});
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
    error: making.status ? statusText(making.status) : null,
    frames: making.frames,
    rate: making.rate,
    silent: !making.status && making.peak < SILENT_PEAK,
    peak: making.peak,
    voiceSamples: making.status ? 0 : Q._web_maker_voice_samples(m),
    sizes: making.status ? {} : Object.fromEntries(MAKER_RATES.map((k) => [k, Q._web_maker_size(making.makers[k])])),
  };
  postMessage(making.finished);
}

// ---- WAV files ---------------------------------------------------------------------------

// The format of a WAV file from its first bytes: {rate, channels, bits, float, dataAt, frames},
// or null when it is none that is read here (the browser decodes it instead).
function wavFormat(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const tag = (at) => String.fromCharCode(...bytes.subarray(at, at + 4));
  if (bytes.length < 12 || tag(0) !== "RIFF" || tag(8) !== "WAVE") return null;
  let format = null;
  for (let at = 12; at + 8 <= bytes.length;) {
    const id = tag(at);
    const size = view.getUint32(at + 4, true);
    if (id === "fmt " && at + 8 + Math.min(size, 40) <= bytes.length && size >= 16) {
      let code = view.getUint16(at + 8, true);
      // WAVE_FORMAT_EXTENSIBLE: the sub-format's first two bytes are the format code.
      if (code === 0xFFFE && size >= 40) code = view.getUint16(at + 32, true);
      format = {code, channels: view.getUint16(at + 10, true), rate: view.getUint32(at + 12, true),
                bits: view.getUint16(at + 22, true)};
    } else if (id === "data" && format) {
      const {code, channels, rate, bits} = format;
      const ok = channels > 0 && rate > 0 && ((code === 1 && [8, 16, 24].includes(bits)) || (code === 3 && bits === 32));
      if (!ok) return null;
      const frameBytes = channels * bits / 8;
      return {rate, channels, bits, float: code === 3, dataAt: at + 8, frames: Math.floor(size / frameBytes), frameBytes};
    }
    at += 8 + size + (size & 1);
  }
  return null;
}

// Samples of bytes (whole frames) as floats, as libsndfile reads them for the tool: 8-bit
// unsigned, 16- and 24-bit signed over 2^7, 2^15, 2^23; float as it is.
function wavSamples(format, bytes) {
  const n = bytes.length / (format.bits / 8);
  const out = new Float32Array(n);
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (format.float) for (let i = 0; i < n; i++) out[i] = view.getFloat32(4 * i, true);
  else if (format.bits === 16) for (let i = 0; i < n; i++) out[i] = view.getInt16(2 * i, true) / 32768;
  else if (format.bits === 8) for (let i = 0; i < n; i++) out[i] = (bytes[i] - 128) / 128;
  else for (let i = 0; i < n; i++) out[i] = (bytes[3 * i] | bytes[3 * i + 1] << 8 | (bytes[3 * i + 2] << 24 >> 8)) / 8388608;
  return out;
}

function makeFromWav(file) {
  const head = new Uint8Array(reader.readAsArrayBuffer(file.slice(0, 1 << 16)));
  const format = wavFormat(head);
  if (!format) return postMessage({op: "wav-format", format: null});
  // The length the header gives, and no more than the file holds.
  const frames = Math.min(format.frames, Math.floor((file.size - format.dataAt) / format.frameBytes));
  postMessage({op: "wav-format", format: {rate: format.rate, channels: format.channels, frames}});
  if (frames / format.rate > MAX_SECONDS) {
    return postMessage({op: "finished", status: 8, tooLong: true, error: statusText(8), frames, rate: format.rate});
  }
  makersStart(format.rate, format.channels);
  const step = FEED_FRAMES * format.frameBytes;
  const end = format.dataAt + frames * format.frameBytes;
  let lastPost = Date.now();
  for (let at = format.dataAt; at < end && !making.status; at += step) {
    const bytes = new Uint8Array(reader.readAsArrayBuffer(file.slice(at, Math.min(end, at + step))));
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
const PREVIEW_SAMPLES = 16000;

Object.assign(handlers, {
  effects() {
    postMessage({op: "effects", effects: json(Q._web_effects_json())});
  },
  "maker-start"(m) {
    makersStart(m.rate, m.channels);
    const failed = makerStatus(0, "started");
    postMessage(failed || {op: "started", status: 0});
  },
  // Samples from the page; answered, so that the page can keep only a few in flight.
  "maker-write"(m) {
    if (!making.status) makersWrite(m.samples);
    postMessage({op: "written", id: m.id, frames: making.frames, status: making.status,
                 error: making.status ? statusText(making.status) : null});
  },
  "maker-finish"() {
    makersFinish();
  },
  "maker-wav"(m) {
    makeFromWav(m.file);
  },
  "maker-carrier"(m) {
    postMessage({op: "carrier", blob: carrier(m.kbps, m.code, m.level), kbps: m.kbps, code: m.code, level: m.level});
  },
  "maker-free"() {
    makersFree();
  },
  // The message as heard with an effect, in parts of a second, each asked for.
  "preview-open"(m) {
    if (!previewBuffer) previewBuffer = Q._malloc(PREVIEW_SAMPLES * 2);
    const status = Q._web_preview_open(making.makers[m.kbps], m.code, m.level);
    postMessage({op: "preview-opened", id: m.id, status, error: status ? statusText(status) : null});
  },
  "preview-read"(m) {
    const got = Q._web_preview_read(previewBuffer, PREVIEW_SAMPLES);
    const samples = got > 0 ? Q.HEAP16.slice(previewBuffer >> 1, (previewBuffer >> 1) + got) : new Int16Array(0);
    postMessage({op: "preview-samples", id: m.id, samples, error: got < 0 ? statusText(-got) : null}, [samples.buffer]);
  },
  "preview-close"() {
    Q._web_preview_close();
  },
});
