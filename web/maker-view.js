// SPDX-License-Identifier: MIT
// The new-message view: Record or pick or drop a recording, choose a voice effect, its level and
// the bit rate, listen back, and save the message made in the page (the same pipeline as `quira
// make`): the carrier, or the web message of it (the file `quira export` writes of the carrier). It shows the state maker.js keeps and calls its verbs; every sentence the new-message
// part of the page writes is chosen here, by its key in the page's catalogues (i18n.js).
import {QUIRA_LEVEL_DEFAULT, QUIRA_PAYLOAD_OFFSET} from "./quira-h.js";
import {say, sayAttribute, words} from "./i18n.js";
import {
  $, clock, download, effectAbout, effectName, familyWords, held, hold, levelSlider, notice as showNotice, seconds,
} from "./shared.js";
import {
  listen, make, makeWeb, maker, pickRecording, previewStart, previewStop, record, startWorker, stopRecording,
} from "./maker.js";
import {observe} from "./testing.js";
import {webMessagesWritable} from "./web-message.js";

const notice = (said) => showNotice($("maker-notice"), said);
const status = (key, params) => say($("maker-status"), key, params);

// The sentence for the recording: the microphone's, or a file's, which names it.
const about = (file, fileKey, recordingKey, params) => file
  ? words(fileKey, {name: file.name, ...params}) : words(recordingKey, params);

function refuse(said) {
  notice(said);
  status(null);
}

listen((m) => {
  switch (m.what) {
    case "effects":
      fillEffects();
      break;
    case "busy":
      hold($("record"), maker.busy);
      hold($("pick-recording"), maker.busy);
      break;
    case "begin":
      ready(false);
      notice(null);
      status(null);
      break;
    case "reading":
      status("maker.reading", {name: m.file.name});
      break;
    case "decoding":
      status("maker.decoding", {name: m.file.name});
      break;
    case "making":
      status("maker.making", {name: m.file.name});
      break;
    case "progress":
      progress(m.fraction);
      break;
    case "recording":
      showRecording(m.on);
      break;
    case "finishing":
      hold($("record-stop"), true);
      status("maker.finishing");
      break;
    case "finished":
      finished(m);
      break;
    case "full":
      notice(words("maker.stoppedAtLimit"));
      break;
    case "refused":
      refuse(refusal(m));
      break;
    case "preview":
      showPreview(m.which, m.on);
      break;
  }
});

function refusal(m) {
  switch (m.why) {
    case "refused": return words("maker.micRefused");
    case "none": return words("maker.micMissing");
    case "unsupported": return words("maker.micUnsupported");
    case "busy": return words("maker.micBusy", {error: m.name});
    case "undecodable": return words("maker.undecodable", {name: m.file.name});
    case "sound": return words("maker.soundCannotStart", {reason: m.reason || words("sound.deviceSilent")});
    default: return words("maker.pageFailed", {error: m.error});
  }
}

function progress(fraction) {
  const bar = $("maker-progress");
  if (fraction === null) {
    bar.hidden = true;
    return;
  }
  bar.hidden = false;
  if (fraction === undefined) bar.removeAttribute("value");
  else bar.value = Math.max(0, Math.min(1, fraction));
}

// Enables the choices and the saving once a recording is held.
function ready(yes) {
  $("maker-voice").disabled = !yes;
  $("maker-save").disabled = !yes;
  if (!yes) say($("maker-made"), null);
  sizeNote();
}

function finished(m) {
  ready(Boolean(maker.source));
  if (m.why === "too-long") return refuse(about(m.file, "maker.tooLongFile", "maker.tooLongRecording"));
  if (m.why === "no-sound") return refuse(about(m.file, "maker.noSoundFile", "maker.noSoundRecording"));
  if (m.why === "silent") return refuse(about(m.file, "maker.silentFile", "maker.silentRecording"));
  if (m.why) return refuse(about(m.file, "maker.refusedFile", "maker.refusedRecording", {error: m.error}));
  const source = maker.source;
  notice(mendedWords(m.file, source));
  const held = about(m.file, "maker.heldFile", "maker.heldRecording",
    {length: seconds(source.seconds), rate: source.rate});
  status(held.key, held.params);
}

// What the maker mended, in the words of `quira make`'s warnings; null when nothing was.
function mendedWords(file, source) {
  const {notNumbers, clipped, declared} = source.mended;
  const said = [];
  if (declared !== null && file) {
    said.push(words("maker.declaredFile", {name: file.name, declared: seconds(declared / source.rate),
                                           held: seconds(source.frames / source.rate)}));
  }
  if (notNumbers) said.push(words("maker.madeSilent", {count: notNumbers}));
  if (clipped) said.push(words("maker.clipped", {count: clipped}));
  return said.reduce((first, second) => (first ? words("list.sentences", {first, second}) : second), null);
}

// ---- Effects -------------------------------------------------------------------------------

function fillEffects() {
  const select = $("maker-effect");
  select.replaceChildren();
  const none = document.createElement("option");
  none.value = "0";
  say(none, "maker.effectNone");
  select.append(none);
  const families = new Map();
  for (const e of maker.effects) {
    if (!families.has(e.family)) {
      const group = document.createElement("optgroup");
      sayAttribute(group, "label", familyWords(e).key);
      families.set(e.family, group);
      select.append(group);
    }
    const option = document.createElement("option");
    option.value = String(e.code);
    say(option, "maker.effectOption", {name: effectName(e), about: effectAbout(e)});
    families.get(e.family).append(option);
  }
  select.value = "0";
  choiceChanged();
}

// The choice made: {code, level, kbps}. Without an effect the level is 0, as `quira make`.
function choice() {
  const code = Number($("maker-effect").value);
  return {code, level: code ? Number($("maker-level").value) : 0, kbps: Number($("maker-bitrate").value)};
}

function choiceChanged() {
  const c = choice();
  const e = maker.effects.find((x) => x.code === c.code);
  $("maker-level").disabled = !e;
  $("maker-level-value").textContent = e ? String(c.level) : "–";
  if (!e) say($("maker-effect-about"), "maker.aboutNone");
  else {
    const key = c.level < 0 ? "maker.aboutEffectSubtracted" : c.level === 0 ? "maker.aboutEffectDry" : "maker.aboutEffect";
    say($("maker-effect-about"), key, {name: effectName(e), family: familyWords(e), about: effectAbout(e), level: c.level});
  }
  previewStop();
  sizeNote();
}

function sizeNote() {
  const source = maker.source;
  if (!source) {
    say($("maker-size"), null);
    return;
  }
  say($("maker-size"), "maker.size", {count: source.sizes[choice().kbps], length: seconds(source.seconds), player: QUIRA_PAYLOAD_OFFSET});
}

$("maker-effect").addEventListener("change", choiceChanged);
levelSlider($("maker-level"), QUIRA_LEVEL_DEFAULT);
$("maker-level").addEventListener("input", choiceChanged);
$("maker-bitrate").addEventListener("change", choiceChanged);

// ---- Recording -----------------------------------------------------------------------------

function showRecording(on) {
  $("record").hidden = on;
  $("record-stop").hidden = !on;
  $("recording").hidden = !on;
  if (on) {
    hold($("record-stop"), false);
    $("record-stop").focus();
    meter();
  } else {
    $("record").focus();
  }
}

// The clock and the level while recording, at every frame the browser draws.
function meter() {
  const rec = maker.recording;
  if (!rec || rec.stopping) return;
  $("record-time").textContent = clock(rec.rate ? rec.frames / rec.rate : 0);
  const db = rec.peak > 0 ? 20 * Math.log10(rec.peak) : -100;
  $("record-level").value = Math.max(0, (db + 60) / 60);
  sayAttribute($("record-level"), "aria-valuetext", "maker.levelValue", {db: Math.round(db)});
  requestAnimationFrame(meter);
}

$("record").addEventListener("click", record);
$("record-stop").addEventListener("click", stopRecording);

// ---- A recording picked or dropped ---------------------------------------------------------

$("pick-recording").addEventListener("click", () => { if (!held($("pick-recording"))) $("recording-file").click(); });
$("recording-file").addEventListener("change", () => {
  pickRecording($("recording-file").files[0]);
  $("recording-file").value = "";
});
// A recording dropped on this view is this view's (a message dropped elsewhere, the player's).
const view = $("maker");
view.addEventListener("dragover", (event) => {
  event.preventDefault();
  event.stopPropagation();
  event.dataTransfer.dropEffect = "copy";
  view.classList.add("over");
});
view.addEventListener("dragleave", (event) => { if (!view.contains(event.relatedTarget)) view.classList.remove("over"); });
view.addEventListener("drop", (event) => {
  event.preventDefault();
  event.stopPropagation();
  view.classList.remove("over");
  pickRecording(event.dataTransfer.files[0]);
});

// ---- Listening -----------------------------------------------------------------------------

const PREVIEW_BUTTONS = {dry: $("maker-listen"), effect: $("maker-preview")};

const PREVIEW_LABELS = {dry: "maker.listen", effect: "maker.preview"};

for (const [which, button] of Object.entries(PREVIEW_BUTTONS)) {
  button.addEventListener("click", () => previewStart(which, choice()));
}

function showPreview(which, on) {
  const button = PREVIEW_BUTTONS[which];
  say(button, on ? "maker.stop" : PREVIEW_LABELS[which]);
  button.setAttribute("aria-pressed", String(on));
}

// ---- Making and saving ---------------------------------------------------------------------

// The file name asked for, as a plain name ending in .exe (a carrier) or .html (a web message).
function fileName(web) {
  let name = $("maker-name").value.trim().replace(/[\\/:*?"<>|\u0000-\u001f]/g, "_") || "message.exe";
  if (web) return name.replace(/\.(exe|html?)$/i, "") + ".html";
  if (!/\.exe$/i.test(name)) name += ".exe";
  return name;
}

// Makes the message and saves it: the carrier, or with web its web message.
async function makeAndSave(web) {
  const source = maker.source;
  const buttons = [$("maker-make"), $("maker-make-web")];
  if (!source || maker.busy || buttons.some(held)) return;
  const c = choice();
  const name = fileName(web);
  for (const b of buttons) hold(b, true);
  say($("maker-made"), "maker.makingFile", {name});
  let blob = null;
  try {
    blob = await (web ? makeWeb(c) : make(c));
  } catch (e) {
    refuse(words("maker.pageFailed", {error: String(e && e.message ? e.message : e)}));
    say($("maker-made"), null);
  }
  for (const b of buttons) hold(b, false);
  if (!blob) return;  // the worker failed, or the page, and said so
  download(blob, name);
  const e = maker.effects.find((x) => x.code === c.code);
  const made = {name, count: blob.size, length: seconds(source.seconds), kbps: c.kbps};
  const [withEffect, dry] = web ? ["maker.madeWebEffect", "maker.madeWebDry"] : ["maker.madeEffect", "maker.madeDry"];
  if (e) say($("maker-made"), withEffect, {...made, effect: effectName(e), level: c.level});
  else say($("maker-made"), dry, made);
  observe("making", {made: {name, bytes: blob.size, web, ...c}});
}

$("maker-form").addEventListener("submit", (event) => {
  event.preventDefault();
  makeAndSave(false);
});
// Only a page that carries the player page writes web messages.
if (webMessagesWritable()) {
  $("maker-make-web").hidden = false;
  $("maker-make-web").addEventListener("click", () => makeAndSave(true));
}

ready(false);
// The module and the list of effects, loaded once the person comes to this view: a page opened
// only to play a message never starts the maker.
for (const event of ["pointerenter", "focusin", "dragenter"]) view.addEventListener(event, startWorker, {once: true});
