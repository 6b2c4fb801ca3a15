// SPDX-License-Identifier: MIT
// The web page in Debian's chromium, headless, used as a person would: carriers opened with the
// file picker, play and stop clicked and pressed, the waveform clicked, another effect picked,
// the downloads saved. What the page hands its sound output must be what `quira export
// --as-played` writes, sample for sample, and the downloads what `quira export` (WAV and MP3 as
// heard) and `quira extract` (the frames) write, byte for byte.
//
//   node page_test.js PAGE QUIRA MEDIA_DIR OUT_DIR
//
// PAGE is the built quira.html, opened from file:// with #test, which makes the page keep every
// buffer its sound output receives (window.quiraTapped). The carriers come from MEDIA_DIR (the
// media fixture) and from `quira make` on the spoken prompts of alsa-utils; OUT_DIR receives the
// carriers made here, the tool's exports and the screenshots (opened.png, playing.png,
// foreign.png, about.png). The carriers play in pages of their own at the same time, in real time.
// playwright-core comes from NODE_PATH (scripts/setup-browser.sh) and drives /usr/bin/chromium.
// Prints one line per case and the count of passes and failures; exits 1 on any failure.
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync} = require("node:child_process");
const {SLOW, check, launch, newContext, openPage: openAt, finish, wavSamples} = require("./harness");

const [pagePath, quira, media, out] = process.argv.slice(2);
if (!out) {
  console.error("usage: page_test.js PAGE QUIRA MEDIA_DIR OUT_DIR");
  process.exit(2);
}
fs.mkdirSync(out, {recursive: true});
const PAGE_URL = "file://" + path.resolve(pagePath) + "#test";
const BUFFER = 5760;
const PAYLOAD = 163840;
const KIND_BLOCK = 2;
const PROMPTS = "/usr/share/sounds/alsa";  // spoken prompts of alsa-utils

// ---- Carriers and what the tool makes of them -------------------------------------------------

function tool(...args) {
  return execFileSync(quira, ["-q", ...args], {stdio: ["ignore", "pipe", "pipe"]});
}

function made(name, source, ...options) {
  const file = path.join(out, name);
  tool("make", source, "-o", file, "--force", ...options);
  return file;
}

function asPlayed(carrier) {
  const file = path.join(out, path.basename(carrier, ".exe") + ".as-played.wav");
  tool("export", carrier, "--as-played", "-o", file);
  return wavSamples(file);
}

// The first place two sample runs differ, or -1.
function firstDifference(a, b) {
  const n = Math.min(a.length, b.length);
  for (let i = 0; i < n; i++) if (a[i] !== b[i]) return i;
  return a.length === b.length ? -1 : n;
}

function assertSamplesEqual(got, want, what) {
  const at = firstDifference(got, want);
  assert.ok(at < 0, `${what}: ${got.length} samples against ${want.length}; first difference at ` +
    `sample ${at} (buffer ${Math.floor(at / BUFFER)}): ${got[at]} against ${want[at]}`);
}

// ---- The page ---------------------------------------------------------------------------------

const openPage = (context) => openAt(context, PAGE_URL);

// Opens a file through the page's own button and file chooser.
async function pick(page, file) {
  const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.click("#open")]);
  await chooser.setFiles(file);
}

const title = (page) => page.textContent("#title");
const tapped = (page) => page.evaluate(() => window.quiraTapped.length);

// Every buffer the sound output received, by generation (one per start).
async function buffers(page) {
  const list = await page.evaluate(() => window.quiraTapped.map((b) => ({gen: b.gen, kind: b.kind, samples: Array.from(b.samples)})));
  return list.map((b) => ({gen: b.gen, kind: b.kind, samples: Int16Array.from(b.samples)}));
}

function joined(list) {
  const all = new Int16Array(list.reduce((n, b) => n + b.samples.length, 0));
  let at = 0;
  for (const b of list) {
    all.set(b.samples, at);
    at += b.samples.length;
  }
  return all;
}

async function waitForEnd(page, seconds) {
  // Playing: the play button is disabled; at the natural end the player enables it again.
  await page.waitForFunction(() => window.quiraTapped.length > 0, null, {timeout: SLOW});
  await page.waitForFunction(() => !document.getElementById("play").disabled, null,
    {timeout: seconds * 2000 + SLOW, polling: 100});
}

async function download(page, button) {
  const [saved] = await Promise.all([page.waitForEvent("download"), page.click(button)]);
  const file = path.join(out, `page-${path.basename(saved.suggestedFilename())}`);
  await saved.saveAs(file);
  return fs.readFileSync(file);
}

// A carrier plays by itself from opening to its end: its buffers are the tool's as-played
// export; then both downloads equal the tool's files; play after the end starts again from the
// start.
async function playToEnd(context, carrier, name) {
  const page = await openPage(context);
  await pick(page, carrier);
  const blocks = Math.ceil((fs.statSync(carrier).size - PAYLOAD - 12) / 1440);
  await waitForEnd(page, blocks * 0.36);
  const got = await buffers(page);
  assert.ok(got.every((b) => b.gen === got[0].gen), `${name}: one start`);
  assertSamplesEqual(joined(got), asPlayed(carrier), `${name}: buffers handed to Web Audio`);
  // The buffers are the message whatever the timing; on a busy machine the output may still run
  // dry for a moment between two of them, as a sound card would. A page that cannot keep its
  // output fed at all runs dry for much of the message.
  const dry = await page.evaluate(() => window.quiraUnderruns || 0);
  if (dry) console.log(`# ${name}: the output ran dry for ${dry} samples (${(dry / 16000).toFixed(2)} s) on a busy machine`);
  assert.ok(dry < blocks * 0.36 * 16000 / 4, `${name}: the output ran dry for ${dry} samples: the page does not keep it fed`);

  const wav = path.join(out, `${name}.wav`);
  tool("export", carrier, "-o", wav);
  assert.ok((await download(page, "#save-wav")).equals(fs.readFileSync(wav)), `${name}: WAV download is quira export's`);
  const mp3 = path.join(out, `${name}.mp3`);
  tool("extract", carrier, "-o", mp3);
  assert.ok((await download(page, "#save-mp3")).equals(fs.readFileSync(mp3)), `${name}: MP3 download is quira extract's`);

  // After the end, play starts from the beginning: priming with block 0, block 1 heard first.
  const before = got.length;
  await page.click("#play");
  await page.waitForFunction((n) => window.quiraTapped.length >= n + 4, before, {timeout: SLOW});
  const again = (await buffers(page)).slice(before);
  assert.deepEqual(again.slice(0, 4).map((b) => b.kind), [0, 0, 1, KIND_BLOCK], `${name}: a fresh start`);
  assertSamplesEqual(again[3].samples, got[3].samples, `${name}: first block heard after the end`);
  await page.click("#stop");
  return page;
}

// The as-played block that the buffer matches best (for playback resumed or moved, where the
// decoder restarts and may round a few samples differently from an unbroken decode).
function nearestBlock(samples, reference) {
  let best = -1;
  let bestError = Infinity;
  for (let k = 1; (k + 3) * BUFFER <= reference.length; k++) {
    let error = 0;
    const at = (k + 2) * BUFFER;
    for (let i = 0; i < BUFFER && error < bestError; i++) error += Math.abs(samples[i] - reference[at + i]);
    if (error < bestError) [best, bestError] = [k, error];
  }
  return {block: best, meanError: bestError / BUFFER};
}

const heldBlock = (page) => page.evaluate(() => Number(document.getElementById("wave").getAttribute("aria-valuenow")));

function titleElapsed(text) {
  const m = /^Quira \[(\d\d):(\d\d):(\d\d)\]-\[(\d\d):(\d\d):(\d\d)\]$/.exec(text);
  assert.ok(m, `title "${text}"`);
  return 3600 * m[1] + 60 * m[2] + Number(m[3]);
}

async function newBuffers(page, before, count) {
  await page.waitForFunction(([n, c]) => window.quiraTapped.length >= n + c, [before, count], {timeout: SLOW});
  return (await buffers(page)).slice(before);
}

// Stop, play, stop twice, keys, and a click on the waveform, on one carrier.
const controls = (context, speech32) => check("speech-32: stop holds, play resumes one block back, stop twice rewinds, keys, seek", async () => {
  const page = await openPage(context);
  await pick(page, speech32);
  const reference = asPlayed(speech32);
  await page.waitForFunction(() => /\[00:00:0[3-9]\]-/.test(document.getElementById("title").textContent), null, {timeout: SLOW});
  // The window's view only: a whole-page capture is stitched from tiles while the waveform and
  // title repaint, and under load a tile can repeat.
  await page.screenshot({path: path.join(out, "playing.png")});
  await page.click("#stop");
  await page.waitForFunction(() => !document.getElementById("play").disabled);
  const held = await heldBlock(page);
  const heldTitle = await title(page);
  assert.equal(titleElapsed(heldTitle), Math.floor((36 * held + 50) / 100), "the title shows the held position");
  const count = await tapped(page);
  await page.waitForTimeout(800);
  assert.equal(await tapped(page), count, "nothing is handed on while stopped");
  assert.equal(await title(page), heldTitle, "the title holds");

  // Play resumes: two silent buffers, the block before the held one primes, the held one is heard.
  await page.click("#play");
  let resumed = await newBuffers(page, count, 4);
  assert.deepEqual(resumed.slice(0, 4).map((b) => b.kind), [0, 0, 1, KIND_BLOCK]);
  const match = nearestBlock(resumed[3].samples, reference);
  assert.equal(match.block, held, `first block heard after resuming (mean difference ${match.meanError})`);
  assert.ok(match.meanError < 1, `resumed block ${match.meanError} from the unbroken decode`);

  // Keys: s stops, s again rewinds the title to 00:00:00, Space plays from the start.
  await page.keyboard.press("s");
  await page.waitForFunction(() => !document.getElementById("play").disabled);
  await page.keyboard.press("s");
  await page.waitForFunction(() => document.getElementById("title").textContent.startsWith("Quira [00:00:00]-"));
  const rewound = await tapped(page);
  await page.keyboard.press(" ");
  const fresh = await newBuffers(page, rewound, 4);
  assertSamplesEqual(fresh[3].samples, reference.subarray(3 * BUFFER, 4 * BUFFER), "block 1 after a rewind");

  // A click at half the waveform plays from the block there.
  const box = await page.locator("#wave").boundingBox();
  const before = await tapped(page);
  await page.mouse.click(box.x + box.width * 0.5 + 1, box.y + box.height / 2);
  const target = Math.floor(0.5 * 49);
  const moved = await newBuffers(page, before, 4);
  const gen = moved[moved.length - 1].gen;
  const sinceSeek = moved.filter((b) => b.gen === gen);
  assert.deepEqual(sinceSeek.slice(0, 4).map((b) => b.kind), [0, 0, 1, KIND_BLOCK]);
  assert.equal(nearestBlock(sinceSeek[3].samples, reference).block, target, "first block heard after the click");

  // Another effect picked, played from the start: what the tool plays with that effect; the WAV
  // saved is the tool's export with it.
  await page.click("#stop");
  await page.click("#stop");
  await page.selectOption("#effect", "8");
  await page.fill("#level", "100");
  await page.waitForTimeout(400);
  const beforePreview = await tapped(page);
  await page.click("#play");
  const previewed = await newBuffers(page, beforePreview, 8);
  const chorus = path.join(out, "speech-32-chorus.as-played.wav");
  tool("export", speech32, "--as-played", "--effect", "chorus", "--level", "100", "-o", chorus);
  assertSamplesEqual(joined(previewed.slice(0, 8)), wavSamples(chorus).subarray(0, 8 * BUFFER), "played with chorus");
  const wav = path.join(out, "speech-32-chorus.wav");
  tool("export", speech32, "--effect", "chorus", "--level", "100", "-o", wav);
  assert.ok((await download(page, "#save-wav")).equals(fs.readFileSync(wav)), "WAV with the previewed effect");
  const mp3 = path.join(out, "speech-32-chorus.mp3");
  tool("export", speech32, "--effect", "chorus", "--level", "100", "-o", mp3);
  assert.ok((await download(page, "#save-heard-mp3")).equals(fs.readFileSync(mp3)), "MP3 (as heard) with the previewed effect");
  await page.click("#stop");
  await page.close();
});

// Drops a file on the page, as a person dragging it from a file manager.
async function drop(page, file) {
  const data = fs.readFileSync(file).toString("base64");
  const transfer = await page.evaluateHandle(([name, base64]) => {
    const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    const t = new DataTransfer();
    t.items.add(new File([bytes], name));
    return t;
  }, [path.basename(file), data]);
  await page.dispatchEvent("#drop", "dragover", {dataTransfer: transfer});
  await page.dispatchEvent("#drop", "drop", {dataTransfer: transfer});
}

const opened = (context) => check("opened: a dropped message, facts in words", async () => {
  const page = await openPage(context);
  await drop(page, path.join(media, "prompts-32.exe"));
  await page.waitForFunction(() => document.getElementById("facts").textContent.includes("every block decodes") &&
    document.getElementById("wave-note").textContent === "");
  await page.click("#stop");
  await page.click("#stop");
  await page.waitForTimeout(300);
  await page.screenshot({path: path.join(out, "opened.png"), fullPage: true});
  const facts = await page.textContent("#facts");
  assert.match(facts, /33 blocks of 0\.36 s; every block decodes/);
  assert.match(facts, /MPEG Layer III, 32 kbit\/s at 16 kHz/);
  assert.match(await title(page), /^Quira \[00:00:00\]-\[00:00:12\]$/);
  await page.close();
});

const refusals = (context) => check("not a carrier, a truncated carrier: one clear sentence, the page stays usable", async () => {
  const page = await openPage(context);
  const small = path.join(out, "notes.txt");
  fs.writeFileSync(small, "Call me back.\n");
  await pick(page, small);
  await page.waitForSelector("#notice:not([hidden])");
  assert.match(await page.textContent("#notice"), /“notes\.txt” is not a Quira voice message/);
  assert.ok(await page.isHidden("#player"));

  const cut = path.join(out, "cut.exe");
  fs.writeFileSync(cut, fs.readFileSync(made("cut-source.exe", `${PROMPTS}/Side_Left.wav`)).subarray(0, PAYLOAD + 12 + 1440 * 2 + 700));
  await pick(page, cut);
  await page.waitForFunction(() => /cut short/.test(document.getElementById("notice").textContent));
  assert.match(await page.textContent("#notice"), /This message is cut short: the file holds .* of its .* of voice/);
  await waitForEnd(page, 2);
  assertSamplesEqual(joined(await buffers(page)), asPlayed(cut), "the truncated carrier's buffers");
  await page.close();
});

// The About section: reached from the link under the footer, it names the licences, and its folded
// notices are LICENSE and THIRD-PARTY.md as they stand, the full licence texts among them.
const about = (context) => check("about: the licences named, their notices and texts one click away", async () => {
  const page = await openPage(context);
  await page.click("a[href='#about']");
  await page.waitForFunction(() => {
    const top = document.getElementById("about").getBoundingClientRect().top;
    return top >= 0 && top < innerHeight;
  });
  const said = (await page.textContent("#about")).replace(/\s+/g, " ");
  for (const named of [/free software under the MIT licence, copyright 2026 The Quira developers/,
    /libmpg123, which decodes the messages: the GNU Lesser General Public License, version 2\.1/,
    /libmp3lame, which encodes new ones: the GNU Library General Public License, version 2 or later/,
    /libsoxr, which resamples recordings: the GNU Lesser General Public License, version 2\.1 or later/,
    /musl's maths library: the MIT licence/, /Emscripten's run time: the MIT licence/]) {
    assert.match(said, named);
  }
  assert.ok(!(await page.isVisible("pre.notices")), "the notices are folded");
  await page.click("#notices summary");
  assert.ok(await page.isVisible("pre.notices"), "the notices open");
  const root = path.join(__dirname, "..", "..");
  const files = ["LICENSE", "THIRD-PARTY.md"].map((f) => fs.readFileSync(path.join(root, f), "utf8"));
  const notices = await page.textContent("pre.notices");
  assert.ok(notices === files.join("\n\n"), "the notices are LICENSE and THIRD-PARTY.md");
  assert.match(notices, /GNU LESSER GENERAL PUBLIC LICENSE\s+Version 2\.1, February 1999/);
  assert.match(notices, /GNU LIBRARY GENERAL PUBLIC LICENSE\s+Version 2, June 1991/);
  await page.screenshot({path: path.join(out, "about.png")});
  await page.close();
});

async function main() {
  // A person's click starts the sound; the pages opened side by side here have had none.
  const browser = await launch();
  const context = await newContext(browser, {width: 900, height: 1000});

  const speech32 = path.join(media, "speech-32.exe");
  const reverb = made("reverb.exe", `${PROMPTS}/Front_Center.wav`, "--effect", "large-room");
  const swept = made("swept.exe", `${PROMPTS}/Front_Left.wav`, "--effect", "echo", "--level", "90", "--bitrate", "16");
  const pitch = made("pitch.exe", `${PROMPTS}/Front_Right.wav`, "--effect", "octave-up", "--level", "-40");
  // A carrier whose front part is not our player: one byte of the program changed.
  const foreign = path.join(out, "foreign.exe");
  const bytes = fs.readFileSync(made("foreign-source.exe", `${PROMPTS}/Rear_Center.wav`, "--effect", "rising-echoes"));
  bytes[0x200] ^= 0x55;
  fs.writeFileSync(foreign, bytes);

  // Every carrier plays in a page of its own, all at the same time.
  const plays = [
    [path.join(media, "prompts-16.exe"), "prompts-16"],
    [path.join(media, "speech-8.exe"), "speech-8"],
    [reverb, "reverb"], [swept, "swept"], [pitch, "pitch"], [foreign, "foreign"],
  ];
  const pages = {};
  const playing = plays.map(([carrier, name]) =>
    check(`${name}: plays bit-exact, downloads equal the tool's, plays again`, async () => {
      pages[name] = await playToEnd(context, carrier, name);
    }));
  await Promise.all([...playing, controls(context, speech32), opened(context), refusals(context), about(context)]);
  if (pages.foreign) {
    await check("foreign: warns before anything", async () => {
      const warning = await pages.foreign.textContent("#warning");
      assert.ok(await pages.foreign.isVisible("#warning"), "warning shown");
      assert.match(warning, /Do not run this file\.\s*It was not made by Quira/);
      await pages.foreign.screenshot({path: path.join(out, "foreign.png"), fullPage: true});
    });
  }
  if (pages.reverb) {
    await check("reverb: made by quira make, the page calls it ours", async () => {
      assert.ok(!(await pages.reverb.isVisible("#warning")), "no warning");
      const facts = await pages.reverb.textContent("#facts");
      assert.match(facts, /a Quira player/);
      assert.match(facts, /large-room \(reverb/);
      assert.match(facts, /as marked when the message was made/);
    });
  }

  await browser.close();
  await finish();
}

main().catch((e) => {
  console.log(`FAIL ${e.stack || e}`);
  process.exit(1);
});
