// SPDX-License-Identifier: MIT
// The player's view: the message picked or dropped, its title, buttons and keys, what it holds
// (facts, warnings, notices), the preview of another effect, and the downloads. It shows the
// state player.js keeps and calls its verbs; every sentence the player part of the page writes
// is here.
import {
  QUIRA_BLOCK_BYTES, QUIRA_BUFFER_SAMPLES, QUIRA_ERR_NOT_CARRIER, QUIRA_ERR_READ, QUIRA_OK, QUIRA_SAMPLE_RATE,
} from "./quira-h.js";
import {$, clock, download, familyWords, notice as showNotice, number, seconds} from "./shared.js";
import {choose, listen, open, play, player, save, stop, wake} from "./player.js";
import {drawSoon, showLength, showPosition} from "./waveform.js";

const notice = (text) => showNotice($("notice"), text);
const PRESS_PLAY = "Press play to listen: this browser waits for a click before it plays sound.";

const stem = () => (player.file ? player.file.name.replace(/\.[^.]*$/, "") : "message") || "message";

listen((m) => {
  const file = player.file;
  switch (m.what) {
    case "opening":
      notice(null);
      $("player").hidden = true;
      $("save-note").textContent = "";
      break;
    case "press-play":
      notice(PRESS_PLAY);
      break;
    case "no-sound":
      notice("This browser offers no sound output to this page.");
      break;
    case "refused":
      refused(m.status, m.error);
      break;
    case "opened":
      show();
      if (!m.frames) {
        notice(`“${file.name}” holds no Quira message: where a message begins there are no voice frames.`);
        break;
      }
      for (const line of cutShort()) notice(line);
      break;
    case "state":
      showState(m.error);
      break;
    case "position":
      drawSoon();
      break;
    case "survey":
      showFacts();
      break;
    case "peaks":
      $("wave-note").textContent = m.done ? "" : "Drawing the waveform…";
      drawSoon();
      break;
    case "saved":
      saved(m);
      break;
    case "failed":
      if (m.saving) $("save-note").textContent = `Something went wrong: ${m.error}`;
      else notice(`Something went wrong while playing: ${m.error}`);
      break;
  }
});

function refused(status, error) {
  const name = `“${player.file.name}”`;
  if (status === QUIRA_ERR_NOT_CARRIER) notice(`${name} is not a Quira voice message: it is shorter than the player every message begins with.`);
  else if (status === QUIRA_ERR_READ) notice(`${name} could not be read. If it is still being downloaded, wait for it and open it again.`);
  else notice(`${name} could not be opened: ${error}`);
}

function showState(error) {
  $("title").textContent = player.title;
  document.title = player.title;
  $("play").disabled = player.playing;
  const image = $("play-image");
  if (!image.dataset.idle) image.dataset.idle = image.src;
  image.src = player.playing ? image.dataset.playing : image.dataset.idle;
  $("play").setAttribute("aria-label", player.playing ? "Playing" : "Play");
  if (error) notice(error);
  showPosition();
  drawSoon();
}

// The sentences for a message that ends before its end.
function cutShort() {
  const header = player.header;
  const lines = [];
  const heldSamples = Math.max(0, header.blocks - 1) * QUIRA_BUFFER_SAMPLES;
  if (header.has_voice_mark && header.voice_samples > heldSamples) {
    lines.push(`This message is cut short: the file holds ${seconds(heldSamples / QUIRA_SAMPLE_RATE)} of its ` +
               `${seconds(header.voice_samples / QUIRA_SAMPLE_RATE)} of voice. What is there plays.`);
  } else if (header.last_block_bytes > 0 && header.last_block_bytes < QUIRA_BLOCK_BYTES) {
    lines.push(`This message is cut short: the file ends inside its last block ` +
               `(${header.last_block_bytes} of ${number(QUIRA_BLOCK_BYTES)} bytes). What is there plays.`);
  }
  return lines;
}

// ---- Facts ---------------------------------------------------------------------------------

function effectWords(code, level) {
  if (code === 0) return "none: the voice as it was recorded";
  const e = player.effects.find((x) => x.code === code);
  if (!e) return `code ${code}, which no player knows: the voice plays without effect`;
  const how = level === 0 ? ": the dry voice only" : level < 0 ? ", subtracted from the voice" : "";
  return `${e.name} (${familyWords(e)}: ${e.description}), at level ${level} of 128${how}`;
}

function showFacts() {
  const h = player.header;
  const survey = player.survey;
  const file = player.file;
  if (!h) return;
  const blockSeconds = QUIRA_BUFFER_SAMPLES / QUIRA_SAMPLE_RATE;
  const rows = [];
  rows.push(["File", `${file.name}, ${number(file.size)} bytes`]);
  rows.push(["Length", `${seconds(h.total_seconds)} (${clock(h.total_seconds)}), as the player shows it`]);
  rows.push(["Voice", h.has_voice_mark
    ? `${seconds(h.voice_samples / QUIRA_SAMPLE_RATE)} of voice, as marked when the message was made`
    : "no voice mark (made by another program, or the mark was damaged)"]);
  rows.push(["Effect", effectWords(h.effect_code, h.effect_level)]);
  if (survey && survey.status === QUIRA_OK) {
    rows.push(["Format", survey.format >= 0
      ? `MPEG Layer III, ${survey.bitrate_kbps} kbit/s at ${survey.sample_rate / 1000} kHz` +
        (survey.mixed_formats ? ", with blocks of other formats too" : "") +
        (survey.sample_rate < QUIRA_SAMPLE_RATE ? " (played unresampled on a 16 kHz device: at double speed)" : "")
      : "unknown: the first block holds no accepted frames"]);
  } else {
    rows.push(["Format", "working it out…"]);
  }
  let blockText = `${number(h.blocks)} blocks of ${blockSeconds} s`;
  if (h.last_block_bytes > 0 && h.last_block_bytes < QUIRA_BLOCK_BYTES) {
    blockText += `, the last one short (${h.last_block_bytes} of ${number(QUIRA_BLOCK_BYTES)} bytes)`;
  }
  if (survey && survey.status === QUIRA_OK) {
    if (survey.failed_blocks === 0) blockText += "; every block decodes";
    else {
      const listed = survey.failed.map(String).join(", ") + (survey.failed_blocks > survey.failed.length ? ", …" : "");
      blockText += `; ${number(survey.failed_blocks)} do not decode and play as silence (${listed})`;
    }
  }
  rows.push(["Blocks", blockText]);
  rows.push(["Program part", h.player_ours
    ? "a Quira player, built by the Quira project"
    : "not a Quira player: see the warning above"]);
  rows.push(["Its SHA-256", h.player_sha256]);
  const list = $("facts");
  list.replaceChildren();
  for (const [term, text] of rows) {
    const dt = document.createElement("dt");
    dt.textContent = term;
    const dd = document.createElement("dd");
    dd.textContent = text;
    list.append(dt, dd);
  }
}

function show() {
  const header = player.header;
  $("player").hidden = false;
  const warning = $("warning");
  warning.hidden = Boolean(header.player_ours);
  warning.textContent = header.player_ours ? "" :
    "Do not run this file: it was not made by Quira. Its program part is not the Quira player, " +
    "so running it could do anything to your computer. Hearing the message here is safe: this " +
    "page only reads it.";
  showLength();
  fillEffects();
  showFacts();
  drawSoon();
}

// ---- Preview of another effect -------------------------------------------------------------

function fillEffects() {
  const header = player.header;
  const select = $("effect");
  select.replaceChildren();
  const add = (value, text) => {
    const option = document.createElement("option");
    option.value = value;
    option.textContent = text;
    select.append(option);
  };
  const own = player.effects.find((x) => x.code === header.effect_code);
  add("own", `The message's own: ${own ? own.name : "none"}`);
  add("0", "None: the voice as recorded");
  for (const e of player.effects) add(String(e.code), `${e.name} (${familyWords(e)})`);
  select.value = "own";
  $("level").value = String(header.effect_level);
  $("level-value").textContent = String(header.effect_level);
}

function previewChanged() {
  const header = player.header;
  const select = $("effect").value;
  const level = Number($("level").value);
  $("level-value").textContent = String(level);
  const code = select === "own" ? header.effect_code : Number(select);
  choose(select === "own" && level === header.effect_level ? null : {code, level_byte: (127 - level) & 255});
}

$("effect").addEventListener("change", previewChanged);
$("level").addEventListener("input", previewChanged);
$("own").addEventListener("click", () => {
  $("effect").value = "own";
  $("level").value = String(player.header.effect_level);
  previewChanged();
});
$("preview").addEventListener("submit", (event) => event.preventDefault());

// ---- Saving --------------------------------------------------------------------------------

function choiceWords() {
  const choice = player.choice;
  if (!choice) return "with its own effect";
  const e = player.effects.find((x) => x.code === choice.code);
  let level = (127 - choice.level_byte) & 255;
  if (level > 127) level -= 256;
  return e ? `with ${e.name} at level ${level}` : "without effect";
}

function saved(m) {
  if (m.error) {
    $("save-note").textContent = m.error;
    return;
  }
  const name = `${stem()}.${m.kind}`;
  download(m.blob, name);
  const what = m.kind === "wav" ? `the message as heard, ${choiceWords()}` : "the plain MPEG frames";
  $("save-note").textContent = `Saved “${name}”: ${what} (${number(m.blob.size)} bytes).` +
    (m.skipped ? ` ${m.skipped} block(s) held no frames and were left out.` : "");
}

$("save-wav").addEventListener("click", () => {
  $("save-note").textContent = "Preparing the WAV file…";
  save("wav");
});
$("save-mp3").addEventListener("click", () => {
  $("save-note").textContent = "Preparing the MP3 file…";
  save("mp3");
});

// ---- Playing -------------------------------------------------------------------------------

function playPressed() {
  if (!player.header || player.playing) return;
  if ($("notice").textContent === PRESS_PLAY) notice(null);
  play();
}

$("play").addEventListener("click", playPressed);
$("stop").addEventListener("click", stop);

document.addEventListener("keydown", (event) => {
  if (event.ctrlKey || event.altKey || event.metaKey) return;
  const target = event.target;
  if (target instanceof HTMLInputElement || target instanceof HTMLSelectElement) return;
  const key = event.key.toLowerCase();
  // Space on a button presses that button, as everywhere on the web.
  if (key === " " && target instanceof HTMLButtonElement) return;
  if (key === " " || key === "p") {
    event.preventDefault();
    playPressed();
  } else if (key === "s") {
    event.preventDefault();
    stop();
  }
});

// ---- Picking and dropping ------------------------------------------------------------------

$("open").addEventListener("click", () => $("file").click());
$("file").addEventListener("change", () => {
  open($("file").files[0]);
  $("file").value = "";
});
const drop = $("drop");
document.addEventListener("dragover", (event) => {
  event.preventDefault();
  event.dataTransfer.dropEffect = "copy";
  drop.classList.add("over");
});
document.addEventListener("dragleave", (event) => {
  if (event.target === document.documentElement || event.relatedTarget === null) drop.classList.remove("over");
});
document.addEventListener("drop", (event) => {
  event.preventDefault();
  drop.classList.remove("over");
  const f = event.dataTransfer.files[0];
  if (f) open(f);
});
// Any click lets a waiting audio context run.
document.addEventListener("pointerdown", wake);

