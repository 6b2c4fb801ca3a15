// SPDX-License-Identifier: MIT
// The player's view: the message picked or dropped, its title, buttons and keys, what it holds
// (facts, warnings, notices), the preview of another effect, and the downloads. It shows the
// state player.js keeps and calls its verbs; every sentence the player part of the page writes
// is chosen here, by its key in the page's catalogues (i18n.js).
import {
  QUIRA_BLOCK_BYTES, QUIRA_BUFFER_SAMPLES, QUIRA_ERR_NOT_CARRIER, QUIRA_ERR_READ, QUIRA_LEVEL_DEFAULT, QUIRA_OK,
  QUIRA_SAMPLE_RATE,
} from "./quira-h.js";
import {number, onLanguage, say, sayAttribute, text, words} from "./i18n.js";
import {
  $, clock, download, effectAbout, effectName, familyWords, levelSlider, notice as showNotice, seconds,
} from "./shared.js";
import {choose, listen, open, payload, play, player, save, stop, wake} from "./player.js";
import {webMessageBlob, webMessagesWritable} from "./web-message.js";
import {drawSoon, showLength, showPosition} from "./waveform.js";

const notice = (said) => showNotice($("notice"), said);

const stem = () => (player.shown ? player.shown.name.replace(/\.[^.]*$/, "") : "message") || "message";

listen((m) => {
  const file = player.shown;
  switch (m.what) {
    case "opening":
      notice(null);
      $("player").hidden = true;
      say($("save-note"), null);
      break;
    case "press-play":
      notice(words("sound.pressPlay"));
      break;
    case "no-sound":
      notice(words("sound.none"));
      break;
    case "sound-failed":
      notice(words("sound.cannotStart", {reason: m.reason || words("sound.deviceSilent")}));
      break;
    case "refused":
      refused(m.status, m.error, m.reason);
      break;
    case "opened":
      $("save-heard-mp3").hidden = !m.encodes;
      show();
      if (!m.frames) {
        notice(words("open.noFrames", {name: file.name}));
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
      say($("wave-note"), m.done ? null : "player.drawing");
      drawSoon();
      break;
    case "saved":
      saved(m);
      break;
    case "failed":
      if (m.saving) say($("save-note"), "save.failed", {error: m.error});
      else notice(words("sound.failed", {error: m.error}));
      break;
  }
});

function refused(status, error, reason) {
  const name = player.shown.name;
  if (status === QUIRA_ERR_NOT_CARRIER) notice(words("open.notCarrier", {name}));
  else if (status === QUIRA_ERR_READ && reason) notice(words("open.unreadableWhy", {name, reason}));
  else if (status === QUIRA_ERR_READ) notice(words("open.unreadable", {name}));
  else notice(words("open.failed", {name, error}));
}

// Play is disabled while playing. Where it had the focus, the focus goes to Stop (the control
// that does something now) rather than to nothing, and comes back to Play when playing ends,
// unless the person pressed Stop itself: then it stays there, where a second press rewinds.
let focusMoved = false;

function showState(error) {
  $("title").textContent = player.title;
  document.title = player.title;
  if (player.playing && document.activeElement === $("play")) {
    $("stop").focus();
    focusMoved = true;
  }
  $("play").disabled = player.playing;
  if (!player.playing && focusMoved) {
    // Play is what comes next (after the end, or a stop by key); Stop pressed itself keeps it.
    if (document.activeElement === $("stop")) $("play").focus();
    focusMoved = false;
  }
  const image = $("play-image");
  if (!image.dataset.idle) image.dataset.idle = image.src;
  image.src = player.playing ? image.dataset.playing : image.dataset.idle;
  sayAttribute($("play"), "aria-label", player.playing ? "player.playing" : "player.play");
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
    lines.push(words("open.cutShortVoice", {held: seconds(heldSamples / QUIRA_SAMPLE_RATE),
                                            total: seconds(header.voice_samples / QUIRA_SAMPLE_RATE)}));
  } else if (header.last_block_bytes > 0 && header.last_block_bytes < QUIRA_BLOCK_BYTES) {
    lines.push(words("open.cutShortBlock", {bytes: header.last_block_bytes, blockBytes: QUIRA_BLOCK_BYTES}));
  }
  return lines;
}

// ---- Facts ---------------------------------------------------------------------------------

function effectWords(code, level) {
  if (code === 0) return words("effect.none");
  const e = player.effects.find((x) => x.code === code);
  if (!e) return words("effect.unknown", {code});
  const key = level === 0 ? "effect.atLevelDry" : level < 0 ? "effect.atLevelSubtracted" : "effect.atLevel";
  return words(key, {name: effectName(e), family: familyWords(e), about: effectAbout(e), level});
}

function showFacts() {
  const h = player.header;
  const survey = player.survey;
  const file = player.shown;
  if (!h) return;
  const blockSeconds = QUIRA_BUFFER_SAMPLES / QUIRA_SAMPLE_RATE;
  const rows = [];
  rows.push(["facts.file", words("facts.fileValue", {name: file.name, count: file.size})]);
  rows.push(["facts.length", words("facts.lengthValue", {length: seconds(h.total_seconds), clock: clock(h.total_seconds)})]);
  rows.push(["facts.voice", h.has_voice_mark
    ? words("facts.voiceMarked", {length: seconds(h.voice_samples / QUIRA_SAMPLE_RATE)})
    : words("facts.voiceUnmarked")]);
  rows.push(["facts.effect", effectWords(h.effect_code, h.effect_level)]);
  const surveyed = survey && survey.status === QUIRA_OK;
  let format = words("facts.formatPending");
  if (surveyed && survey.format < 0) format = words("facts.formatUnknown");
  else if (surveyed) {
    format = words("facts.formatValue", {kbps: survey.bitrate_kbps, khz: survey.sample_rate / 1000});
    if (survey.mixed_formats) format = words("facts.formatMixed", {format});
    if (survey.sample_rate < QUIRA_SAMPLE_RATE) format = words("facts.formatDoubleSpeed", {format});
  }
  rows.push(["facts.format", format]);
  let blocks = words("facts.blocksValue", {count: h.blocks, length: words("time.seconds", {n: blockSeconds})});
  if (h.last_block_bytes > 0 && h.last_block_bytes < QUIRA_BLOCK_BYTES) {
    blocks = words("facts.blocksLastShort", {blocks, bytes: h.last_block_bytes, blockBytes: QUIRA_BLOCK_BYTES});
  }
  if (surveyed && survey.failed_blocks === 0) blocks = words("facts.blocksAllDecode", {blocks});
  else if (surveyed) {
    // The list is written in the language shown: showFacts runs again when it changes.
    const separator = text("list.separator");
    const list = survey.failed.map(number).join(separator) + (survey.failed_blocks > survey.failed.length ? `${separator}…` : "");
    blocks = words("facts.blocksFailed", {blocks, count: survey.failed_blocks, list});
  }
  rows.push(["facts.blocks", blocks]);
  rows.push(["facts.program", words(h.player_ours ? "facts.programOurs" : "facts.programForeign")]);
  rows.push(["facts.sha256", null]);
  const list = $("facts");
  list.replaceChildren();
  for (const [term, value] of rows) {
    const dt = document.createElement("dt");
    say(dt, term);
    const dd = document.createElement("dd");
    if (value) say(dd, value.key, value.params);
    else {
      // The digest, as it is in every language.
      dd.textContent = h.player_sha256;
      dd.translate = false;
    }
    list.append(dt, dd);
  }
}
onLanguage(showFacts);

function show() {
  const header = player.header;
  $("player").hidden = false;
  const warning = $("warning");
  warning.hidden = Boolean(header.player_ours);
  // A web message holds no program: what must not be run is the file it was made from.
  say($("warning-headline"), header.web_message ? "warning.webHeadline" : "warning.headline");
  say($("warning-body"), header.web_message ? "warning.webBody" : "warning.body");
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
  const add = (value, said) => {
    const option = document.createElement("option");
    option.value = value;
    say(option, said.key, said.params);
    select.append(option);
  };
  const own = player.effects.find((x) => x.code === header.effect_code);
  add("own", own ? words("preview.own", {name: effectName(own)}) : words("preview.ownNone"));
  add("0", words("preview.none"));
  for (const e of player.effects) add(String(e.code), words("preview.option", {name: effectName(e), family: familyWords(e)}));
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
  choose(select === "own" && level === header.effect_level ? null : {code, level});
}

$("effect").addEventListener("change", previewChanged);
levelSlider($("level"), QUIRA_LEVEL_DEFAULT);
$("level").addEventListener("input", previewChanged);
$("own").addEventListener("click", () => {
  $("effect").value = "own";
  $("level").value = String(player.header.effect_level);
  previewChanged();
});
$("preview").addEventListener("submit", (event) => event.preventDefault());

// ---- Saving --------------------------------------------------------------------------------

// What each download is called: the message as heard takes the message's name, as `quira
// export` would write it; the frames as recorded say so.
const SAVED_NAMES = {"wav": ".wav", "heard-mp3": ".mp3", "mp3": "-recording.mp3"};

// The sentence for a download saved as name, of count bytes.
function savedWords(kind, name, count) {
  const choice = player.choice;
  if (kind === "mp3") return words("save.savedMp3", {name, count});
  if (!choice) return words("save.savedOwn", {name, count});
  const e = player.effects.find((x) => x.code === choice.code);
  return e ? words("save.savedEffect", {name, count, effect: effectName(e), level: choice.level})
    : words("save.savedDry", {name, count});
}

function saved(m) {
  if (m.error) {
    say($("save-note"), m.error.key, m.error.params);
    return;
  }
  const name = stem() + SAVED_NAMES[m.kind];
  download(m.blob, name);
  const done = savedWords(m.kind, name, m.blob.size);
  if (m.skipped) say($("save-note"), "list.sentences", {first: done, second: words("save.skipped", {count: m.skipped})});
  else say($("save-note"), done.key, done.params);
}

$("save-wav").addEventListener("click", () => {
  say($("save-note"), "save.preparingWav");
  save("wav");
});
$("save-heard-mp3").addEventListener("click", () => {
  say($("save-note"), "save.preparingMp3");
  save("heard-mp3");
});
$("save-mp3").addEventListener("click", () => {
  say($("save-note"), "save.preparingMp3");
  save("mp3");
});

// A web message of the message open: the player page with its payload inside, the file `quira
// export` writes. Only a page that carries the player page offers it.
let writingWeb = false;
async function saveWeb() {
  if (!player.header || writingWeb) return;
  writingWeb = true;
  say($("save-note"), "save.preparingWeb");
  try {
    const blob = await webMessageBlob(await payload(), player.header.player_sha256);
    const name = `${stem()}.html`;
    download(blob, name);
    say($("save-note"), "save.savedWeb", {name, count: blob.size});
  } catch (e) {
    if (e && e.key) say($("save-note"), e.key, e.params);
    else say($("save-note"), "save.failed", {error: String(e && e.message ? e.message : e)});
  } finally {
    writingWeb = false;
  }
}
if (webMessagesWritable()) {
  $("save-web").hidden = false;
  $("save-web").addEventListener("click", saveWeb);
}

// ---- Playing -------------------------------------------------------------------------------

function playPressed() {
  if (!player.header || player.playing) return;
  if ($("notice").getAttribute("data-text") === "sound.pressPlay") notice(null);
  play();
}

$("play").addEventListener("click", playPressed);
$("stop").addEventListener("click", () => {
  focusMoved = false;
  stop();
});

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
//
// Where the page offers it: a web message's page plays the message it holds, and opens no other.

const drop = $("drop");
if (drop) {
  $("open").addEventListener("click", () => $("file").click());
  $("file").addEventListener("change", () => {
    open($("file").files[0]);
    $("file").value = "";
  });
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
}
// Any click lets a waiting audio context run.
document.addEventListener("pointerdown", wake);

