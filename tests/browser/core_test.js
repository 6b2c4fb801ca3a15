// SPDX-License-Identifier: MIT
// The page's core use in one browser engine (chromium, firefox or webkit, engines.js), opened
// from disk as the page tells people to use it, and used as a person would:
//   - a carrier opened and played to its end: what reaches the audio destination, tapped there,
//     is `quira export --as-played` sample for sample (int16 = round(float x 32768)) and then
//     silence, nothing cut and nothing added; the title and the waveform's cursor agree at the end;
//   - its downloads are the files the tool writes: the WAV and the MP3 as heard `quira export`'s,
//     the frames' MP3 `quira extract`'s;
//   - a carrier made from a picked WAV is the one `quira make` writes, byte for byte, and the
//     web message the maker saves of it the one `quira export` writes of that carrier;
//   - a message recorded from the microphone (the engine's own fake, or a PulseAudio source that
//     plays real speech) holds that speech;
//   - axe-core finds nothing in the opened, playing and making states;
//   - with no sound device: one sentence within seconds, the controls usable, saving and making
//     still work.
//
//   node core_test.js ENGINE PAGE QUIRA OUT_DIR
//
// OUT_DIR receives the carriers, recordings, downloads, logs and the screenshots
// (ENGINE-opened.png, ENGINE-playing.png, ENGINE-making.png, ENGINE-no-sound.png). Prints one
// line per case and the count of passes and failures; exits 1 on any failure.
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync} = require("node:child_process");
const {accessible, check, compareAtDestination, destination, summary, wavSamples} = require("./harness");
const {launch, SLOW} = require("./engines");
const {startSound, sleep} = require("./services");

const [engine, pagePath, quira, out] = process.argv.slice(2);
if (!out) {
  console.error("usage: core_test.js chromium|firefox|webkit PAGE QUIRA OUT_DIR");
  process.exit(2);
}
fs.mkdirSync(out, {recursive: true});
const PAGE_URL = "file://" + path.resolve(pagePath) + "#test";
const PROMPTS = "/usr/share/sounds/alsa";  // spoken prompts of alsa-utils
const BLOCK_SECONDS = 0.36;

const run = (command, ...args) => execFileSync(command, args, {stdio: ["ignore", "pipe", "pipe"]});
const tool = (...args) => run(quira, "-q", ...args);
const file = (name) => path.join(out, name);
const shot = (tab, name) => tab.screenshot(file(`${engine}-${name}.png`));
const info = (carrier) => JSON.parse(tool("info", "--json", carrier).toString());

// ---- What the page tells ------------------------------------------------------------------

const text = (tab, id) => tab.eval((i) => document.getElementById(i).textContent, id);
const shown = (tab, id) => tab.eval((i) => !document.getElementById(i).hidden, id);

// ---- Cases --------------------------------------------------------------------------------

const BLOCKS = (carrier) => Math.ceil((fs.statSync(carrier).size - 163840 - 12) / 1440);

// Opens carrier through the page's button; where the engine waits for a click before it plays
// sound (WebKit, whose automation gives no autoplay), the play button is pressed.
async function openAndPlay(tab, carrier) {
  await tab.chooseFile("#open", "#file", carrier);
  await tab.waitFor(() => /^Quira \[/.test(document.getElementById("title").textContent));
  await sleep(300);
  if (await tab.eval(() => !document.getElementById("play").disabled)) await tab.click("#play");
  await tab.waitFor(() => document.getElementById("play").disabled);
}

async function waitForEnd(tab, carrier) {
  await tab.waitFor(() => !document.getElementById("play").disabled, undefined, BLOCKS(carrier) * BLOCK_SECONDS * 3000 + SLOW);
}

function played(browser, carrier, name) {
  return check(`${engine}: ${name} played to its end: the destination gets quira export --as-played, then silence`, async () => {
    const tab = await browser.open(PAGE_URL);
    const rate = await tab.waitFor(() => window.quiraAudio && window.quiraAudio.rate);
    assert.equal(rate, 16000, "the audio context runs at 16 kHz, where every sample is the tool's");
    await openAndPlay(tab, carrier);
    await sleep(600);
    await shot(tab, "playing");
    await accessible(tab, "playing");
    await waitForEnd(tab, carrier);
    await sleep(500);  // silence after the end, tapped too
    const want = wavSamples((tool("export", carrier, "--as-played", "-o", file(`${name}.as-played.wav`)), file(`${name}.as-played.wav`)));
    const underruns = await tab.eval(() => window.quiraUnderruns || 0);
    const said = compareAtDestination(await destination(tab), want, name, underruns);
    const end = await tab.eval(() => ({title: document.getElementById("title").textContent,
      now: Number(document.getElementById("wave").getAttribute("aria-valuenow")),
      max: Number(document.getElementById("wave").getAttribute("aria-valuemax"))}));
    const m = /^Quira \[(.*)\]-\[(.*)\]$/.exec(end.title);
    assert.ok(m && m[1] === m[2], `the title at the end shows the end: ${end.title}`);
    assert.equal(end.now, end.max, `the cursor at the end stands at the end (${end.now} of ${end.max})`);
    await shot(tab, "opened");
    await accessible(tab, "opened");

    // The downloads: the tool's files. The MP3 as heard is LAME's in the page against the tool's.
    tool("export", carrier, "-o", file(`${name}.wav`));
    tool("export", carrier, "-o", file(`${name}.mp3`));
    tool("extract", carrier, "-o", file(`${name}.frames.mp3`));
    const wav = await tab.download("#save-wav");
    assert.equal(wav.name, `${name}.wav`);
    assert.ok(wav.bytes.equals(fs.readFileSync(file(`${name}.wav`))), "the WAV download is quira export's");
    const heard = await tab.download("#save-heard-mp3");
    assert.equal(heard.name, `${name}.mp3`);
    assert.ok(heard.bytes.equals(fs.readFileSync(file(`${name}.mp3`))), "the MP3 (as heard) download is quira export's");
    const mp3 = await tab.download("#save-mp3");
    assert.equal(mp3.name, `${name}-recording.mp3`);
    assert.ok(mp3.bytes.equals(fs.readFileSync(file(`${name}.frames.mp3`))), "the recording's MP3 download is quira extract's");
    assert.deepEqual(await tab.errors(), [], "no error in the page");
    await tab.close();
    return `${said}; title ${end.title}; WAV ${wav.bytes.length}, MP3 as heard ${heard.bytes.length} and the ` +
      `recording's MP3 ${mp3.bytes.length} bytes, the tool's`;
  });
}

// Waits until the new-message view holds a recording or refused one; what it said, if refused.
async function settled(tab) {
  await tab.waitFor(() => !document.getElementById("maker-save").disabled || !document.getElementById("maker-notice").hidden);
  return (await shown(tab, "maker-notice")) ? text(tab, "maker-notice") : null;
}

// Chooses the voice and saves the message; the download.
async function save(tab, choice, name) {
  await tab.select("#maker-effect", String(choice.code));
  if (choice.code) await tab.eval(([v]) => {
    const level = document.getElementById("maker-level");
    level.value = String(v);
    level.dispatchEvent(new Event("input", {bubbles: true}));
  }, [choice.level]);
  await tab.select("#maker-bitrate", String(choice.kbps));
  await tab.fill("#maker-name", name);
  const saved = await tab.download("#maker-make").catch(async (e) => {
    const said = await tab.eval(() => ["maker-made", "maker-notice", "maker-status"].map((id) => document.getElementById(id).textContent));
    throw new Error(`${e.message}; the page says: ${said.join(" | ")}`);
  });
  assert.equal(saved.name, name, "saved under the name given");
  await tab.waitFor(() => /^Saved/.test(document.getElementById("maker-made").textContent));
  return saved;
}

const makeOptions = (c) => [...(c.code ? ["--effect", String(c.code), "--level", String(c.level)] : []), "--bitrate", String(c.kbps)];

function made(browser, input) {
  return check(`${engine}: a carrier made from a picked WAV is quira make's, its web message quira export's, byte for byte`, async () => {
    const tab = await browser.open(PAGE_URL);
    const choice = {code: 5, level: 40, kbps: 32};
    await tab.chooseFile("#pick-recording", "#recording-file", input);
    assert.equal(await settled(tab), null, "the recording is taken");
    const saved = await save(tab, choice, "picked.exe");
    tool("make", input, "-o", file("tool-picked.exe"), "--force", ...makeOptions(choice));
    assert.ok(saved.bytes.equals(fs.readFileSync(file("tool-picked.exe"))), "the page's carrier is quira make's");
    // The same message saved as a web message, with the same choice and name.
    const web = await tab.download("#maker-make-web");
    assert.equal(web.name, "picked.html", "the name given, as a web page");
    await tab.waitFor(() => /^Saved “picked\.html”/.test(document.getElementById("maker-made").textContent));
    tool("export", file("tool-picked.exe"), "-o", file("tool-picked.html"));
    assert.ok(web.bytes.equals(fs.readFileSync(file("tool-picked.html"))), "the page's web message is quira export's of that carrier");
    assert.deepEqual(await tab.errors(), [], "no error in the page");
    await tab.close();
    return `carrier ${saved.bytes.length} bytes and web message ${web.bytes.length} bytes, byte-identical`;
  });
}

function recorded(browser, sound, speech) {
  return check(`${engine}: recorded from the microphone: the message holds the speech`, async () => {
    const tab = await browser.open(PAGE_URL);
    await tab.click("#record");
    await tab.waitFor(() => !document.getElementById("recording").hidden);
    const seconds = Number(run("soxi", "-D", speech).toString());
    if (engine !== "chromium") await sound.speak(speech);  // chromium plays its own fake microphone
    else await sleep(seconds * 1000);
    await sleep(1000);
    const rate = await tab.eval(() => (window.quiraMaking.events.find((e) => e.recording) || {recording: {}}).recording.rate);
    await tab.click("#record-stop");
    assert.equal(await settled(tab), null, "the recording is taken");
    await accessible(tab, "making");
    const saved = await save(tab, {code: 8, level: 100, kbps: 32}, "recorded.exe");
    await shot(tab, "making");
    fs.writeFileSync(file("recorded.exe"), saved.bytes);
    const facts = info(file("recorded.exe"));
    assert.equal(facts.effect_name, "chorus");
    assert.equal(facts.effect_level, 100);
    assert.ok(facts.voice_samples >= seconds * 16000, `${facts.voice_samples} samples of voice for ${seconds} s of speech`);
    // The speech is in it: the loudest stretch of the dry export is as loud as the speech's.
    tool("export", "--dry", file("recorded.exe"), "-o", file("recorded.dry.wav"));
    const got = wavSamples(file("recorded.dry.wav"));
    const peak = got.reduce((m, v) => Math.max(m, Math.abs(v)), 0);
    assert.ok(peak > 3000, `the recording's loudest sample is ${peak}: no speech came through`);
    assert.deepEqual(await tab.errors(), [], "no error in the page");
    await tab.close();
    return `captured at ${rate} Hz, ${facts.voice_samples} samples of voice, peak ${peak}`;
  });
}

// What each engine does without a sound server: Firefox keeps its audio context suspended
// (resume() never settles); Chromium and WebKit run it on an output of their own that plays
// into nothing, so the message plays as anywhere.
const WITHOUT_SOUND = {firefox: "suspended", chromium: "plays", webkit: "plays"};

// No sound device: where the browser cannot start sound, play gives one sentence within seconds
// and the controls come back; where it plays into nothing, the message plays to its end and no
// sentence claims otherwise. Saving and making work either way.
function silent(browser, carrier, input, name) {
  return check(`${engine}: no sound device: the page stays usable, saving and making work`, async () => {
    const tab = await browser.open(PAGE_URL);
    await tab.chooseFile("#open", "#file", carrier);
    await tab.waitFor(() => /^Quira \[/.test(document.getElementById("title").textContent));
    const pressed = Date.now();
    if (await tab.eval(() => !document.getElementById("play").disabled)) await tab.click("#play");
    let sentence;
    if (WITHOUT_SOUND[engine] === "suspended") {
      await tab.waitFor(() => /could not start sound output/.test(document.getElementById("notice").textContent), undefined, 10000);
      sentence = `“${await text(tab, "notice")}”`;
      await tab.waitFor(() => !document.getElementById("play").disabled, undefined, 10000);
      assert.equal(await tab.eval(() => document.activeElement && document.activeElement.id), "play",
        "the focus is back on Play (Stop held it while Play was disabled)");
    } else {
      await waitForEnd(tab, carrier);
      assert.ok(!(await shown(tab, "notice")), `no sentence: ${await text(tab, "notice")}`);
      sentence = "played to its end on the browser's own silent output";
    }
    const after = Date.now() - pressed;
    await shot(tab, "no-sound");
    // The tool's files, made here again: this case stands on its own when another has failed.
    tool("export", carrier, "-o", file(`${name}.silent.wav`));
    const wav = await tab.download("#save-wav");
    assert.ok(wav.bytes.equals(fs.readFileSync(file(`${name}.silent.wav`))), "the WAV download is quira export's");

    await tab.chooseFile("#pick-recording", "#recording-file", input);
    assert.equal(await settled(tab), null, "the recording is taken");
    const choice = {code: 5, level: 40, kbps: 32};
    const saved = await save(tab, choice, "picked-silent.exe");
    tool("make", input, "-o", file("tool-picked-silent.exe"), "--force", ...makeOptions(choice));
    assert.ok(saved.bytes.equals(fs.readFileSync(file("tool-picked-silent.exe"))), "the page's carrier is quira make's");

    // Recording needs the sound device where the browser records through Web Audio.
    await tab.click("#record");
    await tab.waitFor(() => !document.getElementById("recording").hidden || !document.getElementById("maker-notice").hidden, undefined, 10000);
    let record = "records";
    if (await shown(tab, "maker-notice")) {
      record = await text(tab, "maker-notice");
      assert.ok(await tab.eval(() => ["record", "pick-recording"].every((id) => {
        const b = document.getElementById(id);
        return !b.disabled && b.getAttribute("aria-disabled") !== "true" && !b.hidden;
      })), "the recording buttons are usable again");
    } else {
      await sleep(1500);
      await tab.click("#record-stop");
      await settled(tab);
    }
    assert.deepEqual(await tab.errors(), [], "no error in the page");
    await tab.close();
    return `after ${after} ms: ${sentence}; WAV and a made carrier the tool's; Record: ${record}`;
  });
}

async function main() {
  const sound = await startSound(file("pulse"));
  const speech = file("speech.wav");
  run("espeak-ng", "-w", speech, "This message was recorded in the browser, from a microphone that speaks.");
  const input = file("picked.wav");
  run("sox", `${PROMPTS}/Front_Left.wav`, "-r", "48000", "-b", "16", input);
  const reverb = file("reverb.exe");
  tool("make", `${PROMPTS}/Front_Center.wav`, "-o", reverb, "--force", "--effect", "large-room");

  const started = Date.now();
  const chromiumMicrophone = ["--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream",
    `--use-file-for-fake-audio-capture=${speech}%noloop`];
  const browser = await launch(engine, {dir: file(engine), sound, args: chromiumMicrophone});
  console.log(`# ${engine} ${browser.version}, started in ${Date.now() - started} ms`);
  await played(browser, reverb, "reverb");
  await made(browser, input);
  await recorded(browser, sound, speech);
  await browser.close();

  const mute = await launch(engine, {dir: file(`${engine}-no-sound`), sound: null});
  await silent(mute, reverb, input, "reverb");
  await mute.close();
  sound.stop();
  summary();
}

main().catch((e) => {
  console.log(`FAIL ${e.stack || e}`);
  process.exit(1);
});
