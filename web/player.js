// SPDX-License-Identifier: MIT
// The player's state and its I/O, without any of the page's elements: the carrier open, its two
// workers (worker.js: the player, which feeds the sound output, and the reader, which surveys,
// draws the waveform's peaks and makes the downloads), and the sound output (sound.js). A view
// (player-view.js) shows `player` and calls the verbs below; what changes is told to the
// function given to listen, as {what, ...}:
//   opening                 a file is being opened: what was shown of the last one goes
//   refused {status, error, reason}  the file is no carrier, or could not be read (reason: the
//                           browser's words for why)
//   opened {frames, encodes}  the header is known; frames: a message begins where it should;
//                           encodes: the page's library can write the MP3 of the message as heard
//   press-play              the browser waits for a click before it plays sound
//   sound-failed {reason}   the sound output did not start within SOUND_WAIT_MS of a start: the
//                           player stopped (reason: the browser's words, or null)
//   no-sound                the browser offers no sound output
//   state {error}           playing or not, the title, the position
//   position                the block heard moved
//   survey                  every block was decoded once: the survey is known
//   peaks {done}            more of the waveform is known
//   saved {kind, blob, skipped, error}  a download is ready (kind "wav", "heard-mp3" or "mp3"),
//                           or failed
//   failed {error, saving}  a worker failed: while playing, or while saving
// A web message's page opens the payload it holds as the file (open's inside), and names it
// and tells its size as the page's own file.
import {QUIRA_BUFFER_BLOCK, QUIRA_OK} from "./quira-h.js";
import {SOUND_WAIT_MS, answerRead, newWorker, wasmModule} from "./shared.js";
import {openSound, soundRuns} from "./sound.js";
import {observe} from "./testing.js";

export const BINS = 1440;  // the waveform's stretches

// What is open. The view reads it; only this module changes it.
export const player = {
  file: null,
  shown: null,      // the file as the view names it: {name, size}
  header: null,     // the carrier's header facts, survey and effects as the workers tell
  survey: null,
  blocks: 0,        // the carrier's blocks, as the first worker to open it tells
  effects: [],
  choice: null,     // the effect previewed: null for the message's own, else {code, level}, the level the signed weight
  playing: false,
  title: "",
  gen: 0,           // the player's generation: one per start and stop
  heldPosition: 0,  // the player's block counter
  atEnd: false,     // played to its natural end: the waveform stands at the end, as the title
  heard: null,      // the block heard now and how far into it, from the sound output
  peaks: new Float32Array(BINS),
  peaksVersion: 0,  // counts the changes to peaks, for the waveform's redrawing
};

let tell = () => {};

// Changes are told to listener from now on.
export function listen(listener) {
  tell = listener;
}

let workerPair = null;   // the two workers of the open file
let peaksPass = 0;       // the drawing asked for last
let sound = null;        // the sound output, once set up

// Made ready as soon as the page loads, so that a message opened starts at once: the browser
// may take a while to open its sound device. The context waits, suspended, for a person's
// first click or pick.
const soundReady = openSound(fromOutput).then((s) => { sound = s; }).catch(() => { sound = null; });
wasmModule();

// Two workers with the module loaded, kept ready so that a file opened need not wait for them.
async function workers() {
  const [playerWorker, reader] = await Promise.all([newWorker("quira-worker"), newWorker("quira-worker")]);
  return {player: playerWorker, reader};
}
let spare = workers();

let lastReport = 0;      // when the sound output last reported samples rendered since the one before
let rendered = 0;        // the count of samples it rendered then
let resumeError = null;  // what the browser said when it refused to resume the context

function fromOutput(m) {
  // A report that comes with no samples rendered (one on a buffer's arrival) says nothing of
  // whether the sound runs.
  if (m.op === "position" && m.rendered !== rendered) {
    rendered = m.rendered;
    lastReport = performance.now();
  }
  if (m.op === "tap") {
    observe("tapped", m);
  } else if (m.op === "position") {
    observe("underruns", m.underruns);
    if (m.gen !== player.gen || !player.playing) return;  // from before a stop
    if (m.kind === QUIRA_BUFFER_BLOCK && m.block >= 0) player.heard = {block: m.block, fraction: m.fraction};
    tell({what: "position"});
  }
}

// ---- Opening -------------------------------------------------------------------------------

// Opens picked, a file the person chose, or with inside ({name, size, playerSha256}) the bare
// payload of the web message named name, size bytes long, whose carrier had that player.
export async function open(picked, inside = null) {
  if (!picked) return;
  if (workerPair) for (const w of [workerPair.player, workerPair.reader]) w.terminate();
  if (payloadAsked) payloadAsked({error: {key: "status.state"}});
  payloadAsked = null;
  Object.assign(player, {file: picked, header: null, survey: null, choice: null, playing: false, gen: 0,
                         heard: null, heldPosition: 0, atEnd: false, peaks: new Float32Array(BINS),
                         shown: inside ? {name: inside.name, size: inside.size} : {name: picked.name, size: picked.size}});
  player.peaksVersion++;
  tell({what: "opening"});
  await soundReady;
  // The player starts by itself where the browser lets sound play now.
  const play = sound ? await soundRuns(sound) : false;
  const pair = await (spare || workers());
  spare = null;
  workerPair = pair;
  pair.player.onmessage = (event) => fromPlayer(event.data);
  pair.reader.onmessage = (event) => fromReader(event.data);
  if (sound) {
    const channel = new MessageChannel();
    sound.connect(channel.port1);
    pair.player.postMessage({op: "output", port: channel.port2}, [channel.port2]);
  }
  const playerSha256 = inside ? inside.playerSha256 : null;
  pair.player.postMessage({op: "open", file: picked, playerSha256, player: true, play});
  if (play) watchSound();
  pair.reader.postMessage({op: "open", file: picked, playerSha256});
  if (!play && sound) tell({what: "press-play"});
  if (!sound) tell({what: "no-sound"});
  setTimeout(() => { if (!spare) spare = workers(); }, 1000);
}

// What a web message's page could not open: named and told as a file refused.
export function refuse(shown, status, error) {
  Object.assign(player, {file: null, header: null, shown});
  tell({what: "refused", status, error});
}

function fromPlayer(m) {
  if (m.op === "read") return answerRead(workerPair.player, player.file, m);
  if (m.op === "opened") {
    if (m.status !== QUIRA_OK) return tell({what: "refused", status: m.status, error: m.error, reason: m.reason});
    player.header = m.header;
    player.effects = m.effects;
    tell({what: "opened", frames: m.frames, encodes: m.encodes});
  } else if (m.op === "state") {
    Object.assign(player, {playing: m.playing, gen: m.gen, heldPosition: m.position, title: m.title,
                           atEnd: Boolean(m.ended)});
    if (!player.playing) player.heard = null;
    tell({what: "state", error: m.error});
  } else if (m.op === "failed") {
    tell({what: "failed", error: m.error});
  }
}

function fromReader(m) {
  const reader = workerPair.reader;
  if (m.op === "read") return answerRead(reader, player.file, m);
  if (m.op === "opened") {
    if (m.status !== QUIRA_OK) return;
    player.blocks = m.header.blocks;
    reader.postMessage({op: "survey"});
    drawPeaks();
  } else if (m.op === "survey") {
    player.survey = m.survey;
    tell({what: "survey"});
  } else if (m.op === "peaks") {
    if (m.error || m.pass !== peaksPass) return;  // an error, or a drawing given up
    player.peaks.set(m.data, m.from);
    player.peaksVersion++;
    tell({what: "peaks", done: m.done});
  } else if (m.op === "wav" || m.op === "heard-mp3" || m.op === "mp3") {
    observe("decoded", m.decoded);
    tell({what: "saved", kind: m.op, blob: m.blob, skipped: m.skipped, error: m.error});
  } else if (m.op === "payload") {
    const asked = payloadAsked;
    payloadAsked = null;
    if (asked) asked(m);
  } else if (m.op === "failed" && payloadAsked) {
    const asked = payloadAsked;
    payloadAsked = null;
    asked({error: {key: "save.failed", params: {error: m.error}}});
  } else if (m.op === "failed") {
    tell({what: "failed", error: m.error, saving: true});
  }
}

function drawPeaks() {
  player.peaks = new Float32Array(BINS);
  player.peaksVersion++;
  peaksPass++;
  workerPair.reader.postMessage({op: "peaks", choice: player.choice, bins: BINS, blocks: player.blocks, pass: peaksPass});
}

// ---- Playing -------------------------------------------------------------------------------

const ready = () => workerPair && player.header;

export function play() {
  if (!ready() || player.playing) return;
  if (sound) resume();
  workerPair.player.postMessage({op: "play"});
  watchSound();
}

function resume() {
  sound.context.resume().then(() => { resumeError = null; }, (e) => { resumeError = `${e.name}: ${e.message}`; });
}

// After a start: a sound output that has not reported within SOUND_WAIT_MS never started (or
// its clock stands still). The player is stopped, so that the controls are usable again, and the
// view is told why; saving and making need no sound output.
let soundWatch = 0;
function watchSound() {
  if (!sound) return;
  const since = performance.now();
  clearTimeout(soundWatch);
  soundWatch = setTimeout(() => {
    if (lastReport >= since || !player.playing) return;
    stop();
    tell({what: "sound-failed", reason: resumeError});
  }, SOUND_WAIT_MS);
}

export function stop() {
  if (ready()) workerPair.player.postMessage({op: "stop"});
}

// The block the waveform stands at: the one heard and how far into it, else the one held.
export function position() {
  if (!player.header) return 0;
  if (player.heard) return player.heard.block + player.heard.fraction;
  if (player.atEnd) return player.header.blocks;
  return player.heldPosition;
}

export function seek(block) {
  if (!ready()) return;
  block = Math.max(0, Math.min(player.header.blocks - 1, block));
  player.heard = null;
  workerPair.player.postMessage({op: "seek", block});
}

// Plays with another effect (null: the message's own), going on from the block heard then, and
// draws the waveform again with it. Choices made in quick succession (a level slider dragged)
// are applied once they settle; a download asked for meanwhile has the newest.
let chooseTimer = 0;
export function choose(choice) {
  player.choice = choice;
  clearTimeout(chooseTimer);
  chooseTimer = setTimeout(() => {
    const block = player.heard ? player.heard.block : player.heldPosition;
    workerPair.player.postMessage({op: "player", choice: player.choice, block, play: player.playing});
    drawPeaks();
  }, 250);
}

// Asks for a download: "wav" or "heard-mp3", the message as heard with the effect chosen, or
// "mp3", its frames as recorded.
export function save(kind) {
  workerPair.reader.postMessage(kind === "mp3" ? {op: "mp3", blocks: player.blocks} : {op: kind, choice: player.choice});
}

// The payload (header and blocks) of the file open, read through the library whatever holds it
// (a carrier, a web message): a Blob, or rejected with the words of why not.
let payloadAsked = null;
export function payload() {
  return new Promise((resolve, reject) => {
    if (!ready() || payloadAsked) return reject({key: "status.state"});
    payloadAsked = (m) => (m.blob ? resolve(m.blob) : reject(m.error));
    workerPair.reader.postMessage({op: "payload"});
  });
}

// Lets a waiting audio context run: any click does.
export function wake() {
  if (sound) resume();
}
