// SPDX-License-Identifier: MIT
// The new-message view: Record or pick or drop a recording, choose a voice effect, its level and
// the bit rate, listen back, and save the message made in the page (the same pipeline as `quira
// make`). It shows the state maker.js keeps and calls its verbs; every sentence the new-message
// part of the page writes is here.
import {QUIRA_PAYLOAD_OFFSET} from "./quira-h.js";
import {$, clock, download, familyWords, notice as showNotice, number, seconds} from "./shared.js";
import {
  listen, make, maker, pickRecording, previewStart, previewStop, record, startWorker, stopRecording,
} from "./maker.js";
import {observe} from "./testing.js";

const notice = (text) => showNotice($("maker-notice"), text);
const status = (text) => { $("maker-status").textContent = text; };

// How the view names the recording: the microphone's, or a file's.
const named = (file) => file ? `“${file.name}”` : "The recording";

function refuse(text) {
  notice(text);
  status("");
}

listen((m) => {
  switch (m.what) {
    case "effects":
      fillEffects();
      break;
    case "busy":
      $("record").disabled = maker.busy;
      $("pick-recording").disabled = maker.busy;
      break;
    case "begin":
      ready(false);
      notice(null);
      status("");
      break;
    case "reading":
      status(`Reading ${named(m.file)}…`);
      break;
    case "decoding":
      status(`Decoding ${named(m.file)}…`);
      break;
    case "making":
      status(`Making ${named(m.file)} into a message…`);
      break;
    case "progress":
      progress(m.fraction);
      break;
    case "recording":
      showRecording(m.on);
      break;
    case "finishing":
      $("record-stop").disabled = true;
      status("Finishing the recording…");
      break;
    case "finished":
      finished(m);
      break;
    case "full":
      notice("The recording stopped at 12 hours, the longest message this page makes.");
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
    case "refused": return "The microphone was refused: allow this page to use it (in the address bar or the site's settings) and press Record again.";
    case "none": return "There is no microphone to record from.";
    case "unsupported": return "This browser does not let the page record sound; choose a recording instead.";
    case "busy": return `The microphone could not be opened (${m.name}): it may be in use by another program.`;
    case "undecodable": return `${named(m.file)} is not a recording this browser can decode: pick a WAV, FLAC, Ogg, MP3 or M4A file.`;
    default: return `Something went wrong in the page: ${m.error}`;
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
  if (!yes) $("maker-made").textContent = "";
  sizeNote();
}

function finished(m) {
  const what = named(m.file);
  ready(Boolean(maker.source));
  if (m.why === "too-long") return refuse(`${what} is too long: this page makes messages of up to 12 hours of voice.`);
  if (m.why === "no-sound") return refuse(`${what} holds no sound at all.`);
  if (m.why === "silent") {
    return refuse(`${what} is silent: there is no voice in it to send.` +
      (m.file ? "" : " Check that the microphone is on and not muted, and record again."));
  }
  if (m.why) return refuse(`${what} could not be made into a message: ${m.error}.`);
  const source = maker.source;
  notice(mendedText(what, source) || null);
  status(`${what}: ${seconds(source.seconds)} of voice (recorded at ${number(source.rate)} Hz). ` +
    "Choose its voice, listen to it, and save it.");
}

// What the maker mended, in the words of `quira make`'s warnings; "" when nothing was.
function mendedText(what, source) {
  const {notNumbers, clipped, declared} = source.mended;
  const said = [];
  if (declared !== null) {
    said.push(`${what} declares ${seconds(declared / source.rate)} but holds ${seconds(source.frames / source.rate)}` +
      " (it may have been cut short): the message is made from what it holds.");
  }
  if (notNumbers) {
    said.push(`Made silent ${number(notNumbers)} ${notNumbers === 1 ? "sample that was not a number" : "samples that were not numbers"} (NaN).`);
  }
  if (clipped) said.push(`Clipped ${number(clipped)} ${clipped === 1 ? "sample" : "samples"} beyond full scale.`);
  return said.join(" ");
}

// ---- Effects -------------------------------------------------------------------------------

function fillEffects() {
  const select = $("maker-effect");
  select.replaceChildren();
  const none = document.createElement("option");
  none.value = "0";
  none.textContent = "none: the voice as recorded";
  select.append(none);
  const families = new Map();
  for (const e of maker.effects) {
    if (!families.has(e.family)) {
      const group = document.createElement("optgroup");
      group.label = familyWords(e);
      families.set(e.family, group);
      select.append(group);
    }
    const option = document.createElement("option");
    option.value = String(e.code);
    option.textContent = `${e.name}: ${e.description}`;
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
  $("maker-effect-about").textContent = e
    ? `${e.name}, ${familyWords(e)}: ${e.description}. Level ${c.level} of 128` +
      (c.level < 0 ? ", subtracted from the voice." : c.level === 0 ? ": the dry voice only." : ".")
    : "The voice as it was recorded.";
  previewStop();
  sizeNote();
}

function sizeNote() {
  const source = maker.source;
  if (!source) {
    $("maker-size").textContent = "";
    return;
  }
  const size = source.sizes[choice().kbps];
  $("maker-size").textContent = `The message will be ${number(size)} bytes: ${seconds(source.seconds)} of voice ` +
    `behind the ${number(QUIRA_PAYLOAD_OFFSET)}-byte player.`;
}

$("maker-effect").addEventListener("change", choiceChanged);
$("maker-level").addEventListener("input", choiceChanged);
$("maker-bitrate").addEventListener("change", choiceChanged);

// ---- Recording -----------------------------------------------------------------------------

function showRecording(on) {
  $("record").hidden = on;
  $("record-stop").hidden = !on;
  $("recording").hidden = !on;
  if (on) {
    $("record-stop").disabled = false;
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
  $("record-level").setAttribute("aria-valuetext", `${Math.round(db)} dB`);
  requestAnimationFrame(meter);
}

$("record").addEventListener("click", record);
$("record-stop").addEventListener("click", stopRecording);

// ---- A recording picked or dropped ---------------------------------------------------------

$("pick-recording").addEventListener("click", () => $("recording-file").click());
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

for (const [which, button] of Object.entries(PREVIEW_BUTTONS)) {
  button.dataset.label = button.textContent;
  button.addEventListener("click", () => previewStart(which, choice()));
}

function showPreview(which, on) {
  const button = PREVIEW_BUTTONS[which];
  button.textContent = on ? "Stop" : button.dataset.label;
  button.setAttribute("aria-pressed", String(on));
}

// ---- Making and saving ---------------------------------------------------------------------

// The file name asked for, as a plain name ending in .exe.
function fileName() {
  let name = $("maker-name").value.trim().replace(/[\\/:*?"<>|\u0000-\u001f]/g, "_") || "message.exe";
  if (!/\.exe$/i.test(name)) name += ".exe";
  return name;
}

async function makeAndSave() {
  const source = maker.source;
  if (!source || maker.busy) return;
  const c = choice();
  const name = fileName();
  $("maker-make").disabled = true;
  $("maker-made").textContent = `Making ${name}…`;
  const blob = await make(c);
  $("maker-make").disabled = false;
  if (!blob) return;  // the worker failed, and said so
  download(blob, name);
  const e = maker.effects.find((x) => x.code === c.code);
  $("maker-made").textContent = `Saved “${name}”: ${number(blob.size)} bytes, ${seconds(source.seconds)} of voice, ` +
    `${e ? `${e.name} at level ${c.level}` : "no effect"}, ${c.kbps} kbit/s. Anyone on Windows can start it; ` +
    "anyone else can open it on this page.";
  observe("making", {made: {name, bytes: blob.size, ...c}});
}

$("maker-form").addEventListener("submit", (event) => {
  event.preventDefault();
  makeAndSave();
});

ready(false);
// The module and the list of effects, loaded once the person comes to this view: a page opened
// only to play a message never starts the maker.
for (const event of ["pointerenter", "focusin", "dragenter"]) view.addEventListener(event, startWorker, {once: true});
