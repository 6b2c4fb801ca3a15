// SPDX-License-Identifier: MIT
// The page's decoding worker: one carrier, read in slices that the page reads for it, and the
// work the page asks of it. The page runs two: the player, which feeds the sound output buffer by buffer, and
// the reader, which surveys the carrier, draws its waveform and makes the downloads, so that
// neither waits for the other.
//
// Messages from the page are handled one at a time, in order; each answer names its op.
import {
  QUIRA_BLOCK_BYTES, QUIRA_BUFFER_BLOCK, QUIRA_BUFFER_SAMPLES, QUIRA_BUFFER_START_SILENCE, QUIRA_OK,
  QUIRA_ERR_READ, QUIRA_PAYLOAD_OFFSET, QUIRA_SHA256_BYTES, QUIRA_WAV_HEADER_BYTES,
} from "./quira-h.js";
import {PageFile, jsonAt, loadLibrary, readHooks, readingCalls, serve, statusWords, textAt} from "./worker-core.js";

const SLICE_BYTES = 1 << 18;  // read from the file this much at a time
// The module's functions that may read the carrier.
const READING = ["web_open", "web_open_payload", "web_read", "web_header_json", "web_survey_json", "web_frames", "web_player_new", "web_player_start",
  "web_player_next", "web_player_stop", "web_player_seek", "web_heard_open", "web_heard_read"];

let Q = null;             // the module
let R = null;             // its functions that read the carrier: async, since a read may wait
let file = null;          // the carrier, as a PageFile
let samples = 0;          // module memory: one buffer of samples, one block of frames
let frames = 0;
let encodes = false;      // the module can encode MP3
let output = null;        // the sound output's port (player)
let gen = 0;              // playback generation: each start and stop begins a new one
let playing = false;

async function load(module) {
  if (Q) return;
  Q = await loadLibrary(module, readHooks(() => file, () => Q));
  R = readingCalls(Q, READING);
  samples = Q._malloc(QUIRA_BUFFER_SAMPLES * 2);
  frames = Q._malloc(QUIRA_BLOCK_BYTES);
  // A build of the library without the maker has no MP3 encoder: the page then offers no MP3 of
  // the message as heard.
  encodes = Q._web_mp3_new() === QUIRA_OK;
  Q._web_mp3_free();
}

const text = (pointer) => textAt(Q, pointer);
const json = (pointer) => jsonAt(Q, pointer);

// A choice of effect: null for the header's, else {code, level}, the level the signed weight.
const choiceArgs = (choice) => choice ? [0, choice.code, choice.level] : [1, 0, 0];

// ---- Playing -------------------------------------------------------------------------------
//
// The Windows player keeps two buffers at its device and refills each as it comes back. The
// output here is handed LOOKAHEAD buffers more, so that a busy machine cannot make it run dry;
// where the Windows player would stand is worked out from the output's notifications: once
// `done` buffers have played it has handed out buffers 0 to done + 1, and its block counter and
// title are those it had after the last of them. That is what the title shows and a stop holds.

const DEVICE_BUFFERS = 2;
const LOOKAHEAD = 2;
let handed = [];          // this generation's buffers handed to the output: {position, title}
let done = 0;             // how many of them have played
let ended = false;        // the library's player reached the end: nothing more to hand out
let heldTitle = null;     // after a stop, the title the Windows player kept (else the library's)

const libraryTitle = () => text(Q._web_player_title());

// Where the Windows player stands: after handing out the buffer done + 1.
const windows = () => handed[Math.min(done + DEVICE_BUFFERS - 1, handed.length - 1)];

function state(extra) {
  const now = playing && handed.length ? windows() : null;
  postMessage(Object.assign({
    op: "state", gen, playing,
    title: now ? now.title : heldTitle || libraryTitle(),
    position: now ? now.position : Q._web_player_position(),
  }, extra || {}));
}

// Hands the output one more buffer, or tells it that none follows.
async function refill() {
  const got = await R.web_player_next(samples);
  const position = Q._web_player_position();
  if (got > 0) {
    const kind = got - 1;
    // The block this buffer holds: the one just read; none for the start's silences.
    const block = kind === QUIRA_BUFFER_START_SILENCE ? -1 : position - 1;
    const copy = Q.HEAP16.slice(samples >> 1, (samples >> 1) + QUIRA_BUFFER_SAMPLES);
    const sent = performance.timeOrigin + performance.now();  // for the benchmark
    output.postMessage({op: "buffer", gen, kind, block, sent, samples: copy}, [copy.buffer]);
    handed.push({position, title: libraryTitle()});
    return;
  }
  // The natural end (or a failure, which ends playback the same way): the Windows player reads
  // no block, keeps its title and stands at block 0. What was handed out still plays.
  output.postMessage({op: "end", gen});
  handed.push({position: 0, title: libraryTitle()});
  ended = true;
  if (got < 0) postMessage({op: "state", gen, playing, error: statusWords(got)});
}

async function fill() {
  while (playing && !ended && handed.length - done < DEVICE_BUFFERS + LOOKAHEAD) await refill();
}

async function start() {
  if (playing) return;
  const status = await R.web_player_start();
  if (status !== QUIRA_OK) return state({error: statusWords(status)});
  gen++;
  playing = true;
  ended = false;
  handed = [];
  done = 0;
  heldTitle = null;
  await fill();
  state();
}

async function stop() {
  if (playing) {
    // The library's player has gone further than the Windows player would have: it goes back
    // to where that one stands, and the title is the one it kept.
    const now = windows();
    if (!ended) await R.web_player_stop();
    await R.web_player_seek(now.position);
    heldTitle = now.title;
    gen++;
    playing = false;
    output.postMessage({op: "stop", gen});
  } else {
    await R.web_player_stop();  // stop while stopped rewinds to the start
    heldTitle = null;
  }
  state();
}

async function onOutput(m) {
  // A notification for an older generation comes from buffers a stop dropped: it changes
  // nothing, as on Windows.
  if (m.gen !== gen || !playing) return;
  if (m.op === "done") {
    done++;
    await fill();
    state();
  } else if (m.op === "drained") {
    playing = false;
    state({ended: true});
  }
}

// ---- Reading -------------------------------------------------------------------------------

// The waveform: the loudest sample of each of `bins` equal stretches of the message as played
// with the choice of effect, block 0 (the priming block, never heard) included as silence.
// Sent in parts as it is worked out.
async function peaks(choice, bins, blocks, pass) {
  let status = await R.web_player_new(...choiceArgs(choice));
  if (status === QUIRA_OK) status = await R.web_player_start();
  if (status !== QUIRA_OK) return postMessage({op: "peaks", pass, error: statusWords(status)});
  const total = Math.max(1, blocks * QUIRA_BUFFER_SAMPLES);
  const data = new Float32Array(bins);
  let sent = 0;
  let lastPost = Date.now();
  for (;;) {
    const got = await R.web_player_next(samples);
    if (got <= 0) break;
    const position = Q._web_player_position();
    if (got - 1 !== QUIRA_BUFFER_BLOCK || position === 0) continue;
    const first = (position - 1) * QUIRA_BUFFER_SAMPLES;
    const heap = Q.HEAP16;
    const base = samples >> 1;
    for (let i = 0; i < QUIRA_BUFFER_SAMPLES; i++) {
      const bin = Math.floor(((first + i) * bins) / total);
      const v = Math.abs(heap[base + i]) / 32768;
      if (bin < bins && v > data[bin]) data[bin] = v;
    }
    if (Date.now() - lastPost > 250) {
      const upto = Math.min(bins, Math.floor((position * QUIRA_BUFFER_SAMPLES * bins) / total));
      postMessage({op: "peaks", pass, from: sent, data: data.slice(sent, upto), done: false});
      sent = upto;
      lastPost = Date.now();
    }
  }
  postMessage({op: "peaks", pass, from: sent, data: data.slice(sent), done: true});
}

// The message as heard, as a WAV file: what `quira export` writes.
async function wav(choice) {
  const started = performance.now();
  const status = await R.web_heard_open(...choiceArgs(choice));
  if (status !== QUIRA_OK) return postMessage({op: "wav", error: statusWords(status)});
  // The longest the message can be, as the library bounds it before decoding: refused at once
  // when a WAV file cannot hold it, rather than after decoding it all.
  const header = Q._malloc(QUIRA_WAV_HEADER_BYTES);
  const room = Q._web_wav_header(Q._web_heard_bound(), header);
  Q._free(header);
  if (!room) {
    Q._web_heard_close();
    return postMessage({op: "wav", error: {key: "save.tooLongWav"}});
  }
  const parts = [];
  let count = 0;
  const chunk = 1 << 16;
  const buffer = Q._malloc(chunk * 2);
  for (;;) {
    const got = await R.web_heard_read(buffer, chunk);
    if (got < 0) {
      Q._free(buffer);
      Q._web_heard_close();
      return postMessage({op: "wav", error: statusWords(got)});
    }
    if (got === 0) break;
    parts.push(Q.HEAPU8.slice(buffer, buffer + got * 2));
    count += got;
  }
  Q._free(buffer);
  Q._web_heard_close();
  const at = Q._malloc(QUIRA_WAV_HEADER_BYTES);
  const fits = Q._web_wav_header(count, at);
  const head = Q.HEAPU8.slice(at, at + QUIRA_WAV_HEADER_BYTES);
  Q._free(at);
  if (!fits) return postMessage({op: "wav", error: {key: "save.tooLongWav"}});
  const decoded = performance.now() - started;
  postMessage({op: "wav", decoded, blob: new Blob([head, ...parts], {type: "audio/wav"})});
}

// The message as heard, as an MP3 file: what `quira export x.exe -o x.mp3` writes. The heard
// stream is read and encoded a buffer at a time, as the tool does it, so that LAME is handed the
// same samples in the same calls. The Info frame, known only at the end, goes over the stream's
// first bytes: those are kept apart (HEAD_BYTES, far more than one frame) until then, and
// everything after them goes straight into the Blob's parts.
const HEAD_BYTES = 1 << 14;
const MP3_ROOM = QUIRA_BUFFER_SAMPLES + QUIRA_BUFFER_SAMPLES / 4 + 7200;  // QUIRA_MP3_BYTES_MAX
const INFO_ROOM = 8192;

async function heardMp3(choice) {
  const fail = (status) => {
    Q._web_heard_close();
    Q._web_mp3_free();
    postMessage({op: "heard-mp3", error: statusWords(status)});
  };
  let status = await R.web_heard_open(...choiceArgs(choice));
  if (status === QUIRA_OK) status = Q._web_mp3_new();
  if (status !== QUIRA_OK) return fail(status);
  const bytes = Q._malloc(MP3_ROOM);
  const head = new Uint8Array(HEAD_BYTES);
  let headBytes = 0;
  const parts = [];
  const keep = (n) => {
    const taken = Math.min(n, HEAD_BYTES - headBytes);
    head.set(Q.HEAPU8.subarray(bytes, bytes + taken), headBytes);
    headBytes += taken;
    if (taken < n) parts.push(Q.HEAPU8.slice(bytes + taken, bytes + n));
  };
  try {
    for (;;) {
      const got = await R.web_heard_read(samples, QUIRA_BUFFER_SAMPLES);
      if (got < 0) return fail(got);
      if (got === 0) break;
      const made = Q._web_mp3_encode(samples, got, bytes, MP3_ROOM);
      if (made < 0) return fail(made);
      keep(made);
    }
    const last = Q._web_mp3_finish(bytes, MP3_ROOM);
    if (last < 0) return fail(last);
    keep(last);
    const info = Q._web_mp3_info_frame(bytes, INFO_ROOM);
    if (info < 0) return fail(info);
    head.set(Q.HEAPU8.subarray(bytes, bytes + Math.min(info, headBytes)), 0);
  } finally {
    Q._free(bytes);
  }
  Q._web_heard_close();
  Q._web_mp3_free();
  postMessage({op: "heard-mp3", blob: new Blob([head.subarray(0, headBytes), ...parts], {type: "audio/mpeg"})});
}

// The plain frames of every block, as an MP3 file: what `quira extract` writes. A block of no
// accepted format holds no frames and is left out.
async function mp3(blocks) {
  const parts = [];
  let skipped = 0;
  for (let k = 0; k < blocks; k++) {
    const got = await R.web_frames(k, frames);
    if (got < 0) {
      skipped++;
      continue;
    }
    parts.push(Q.HEAPU8.slice(frames, frames + got));
  }
  if (parts.length === 0) return postMessage({op: "mp3", error: {key: "save.noFrames"}});
  postMessage({op: "mp3", skipped, blob: new Blob(parts, {type: "audio/mpeg"})});
}

// The payload (header and blocks), read through the library whatever the file is (a carrier or
// a web message), as a Blob: what a web message holds as base64.
async function payload() {
  const header = json(await R.web_header_json());
  if (header.status !== QUIRA_OK) return postMessage({op: "payload", error: statusWords(header.status)});
  const parts = [];
  const chunk = 1 << 16;
  const buffer = Q._malloc(chunk);
  for (let at = 0; at < header.payload_bytes;) {
    const got = await R.web_read(QUIRA_PAYLOAD_OFFSET + at, buffer, Math.min(chunk, header.payload_bytes - at));
    if (got <= 0) {
      Q._free(buffer);
      return postMessage({op: "payload", error: statusWords(got < 0 ? got : QUIRA_ERR_READ)});
    }
    parts.push(Q.HEAPU8.slice(buffer, buffer + got));
    at += got;
  }
  Q._free(buffer);
  postMessage({op: "payload", blob: new Blob(parts, {type: "application/octet-stream"})});
}

// A digest given as hex, in module memory (QUIRA_SHA256_BYTES at the address returned).
let digest = 0;
function digestAt(hex) {
  if (!digest) digest = Q._malloc(QUIRA_SHA256_BYTES);
  for (let i = 0; i < QUIRA_SHA256_BYTES; i++) Q.HEAPU8[digest + i] = parseInt(hex.substr(2 * i, 2), 16);
  return digest;
}

// ---- Messages from the page ------------------------------------------------------------------

const handlers = {
  async load(m) {
    await load(m.module);
  },
  // Opens the file; the player's worker makes its player too and, when told, plays at once.
  async open(m) {
    file = new PageFile(m.file, SLICE_BYTES);
    // A web message's page hands over the bare payload it holds, with its player's digest.
    const status = m.playerSha256 ? await R.web_open_payload(m.file.size, digestAt(m.playerSha256))
      : await R.web_open(m.file.size);
    if (status !== QUIRA_OK) return postMessage({op: "opened", status, error: statusWords(status), reason: file.error});
    const header = json(await R.web_header_json());
    if (header.status !== QUIRA_OK) {
      return postMessage({op: "opened", status: header.status, error: statusWords(header.status), reason: file.error});
    }
    // The payload a web message's page held is a web message's, as the library says of an .html.
    if (m.playerSha256) header.web_message = 1;
    // Whether a message begins here at all: one of the first blocks holds accepted frames.
    let holdsFrames = false;
    for (let k = 0; k < Math.min(header.blocks, 4) && !holdsFrames; k++) holdsFrames = (await R.web_frames(k, frames)) >= 0;
    postMessage({op: "opened", status: QUIRA_OK, header, frames: holdsFrames, encodes, effects: json(Q._web_effects_json())});
    if (!m.player) return;
    const made = await R.web_player_new(1, 0, 0);
    if (made !== QUIRA_OK) return state({error: statusWords(made)});
    if (holdsFrames && m.play) await start();
    else state();
  },
  output(m) {
    output = m.port;
    // The output's notices take their turn with the page's messages: one library call at a time.
    output.onmessage = (event) => enqueue("output", () => onOutput(event.data));
  },
  async player(m) {
    if (playing) await stop();
    const status = await R.web_player_new(...choiceArgs(m.choice));
    if (status !== QUIRA_OK) return state({error: statusWords(status)});
    if (m.block > 0) await R.web_player_seek(m.block);
    heldTitle = null;
    if (m.play) await start();
    else state();
  },
  play: start,
  stop,
  async seek(m) {
    const was = playing;
    if (was) await stop();
    await R.web_player_seek(m.block);
    heldTitle = null;
    if (was) await start();
    else state();
  },
  async survey() {
    postMessage({op: "survey", survey: json(await R.web_survey_json())});
  },
  peaks: (m) => peaks(m.choice, m.bins, m.blocks, m.pass),
  wav: (m) => wav(m.choice),
  mp3: (m) => mp3(m.blocks),
  "heard-mp3": (m) => heardMp3(m.choice),
  payload,
  // A web message's closing comment, as the library writes it (web-message.js).
  trailer(m) {
    postMessage({op: "trailer", text: text(Q._web_trailer(m.at, m.bytes, digestAt(m.playerSha256)))});
  },
};

const enqueue = serve(handlers, () => file);
