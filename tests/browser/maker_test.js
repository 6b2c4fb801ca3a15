// SPDX-License-Identifier: MIT
// The web page's new-message view in Debian's chromium, headless, used as a person would:
// recordings picked, a recording made from the microphone (a fake one that plays real speech),
// effects, levels and bit rates chosen, previews heard, the message saved. The carrier the page
// saves must be what `quira make` writes from the same file with the same choices, byte for
// byte; the one recorded must carry its voice mark, effect and level, and give back the speech
// it heard.
//
//   node maker_test.js PAGE QUIRA OUT_DIR
//
// PAGE is the built quira.html, opened from file:// with #test, which makes the view keep what
// its previews hand Web Audio (window.quiraMaking). The recordings are made here from espeak-ng
// and the spoken prompts of alsa-utils with sox; OUT_DIR receives them, the carriers and the
// screenshots (recording.png, making.png, mended.png). Prints one line per case with what it measured and
// the count of passes and failures; exits 1 on any failure.
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync, spawnSync} = require("node:child_process");
const {SLOW, check, launch, newContext, openPage: openAt, finish, wavSamples} = require("./harness");

const [pagePath, quira, out] = process.argv.slice(2);
if (!out) {
  console.error("usage: maker_test.js PAGE QUIRA OUT_DIR");
  process.exit(2);
}
fs.mkdirSync(out, {recursive: true});
const PAGE_URL = "file://" + path.resolve(pagePath) + "#test";
const PAYLOAD = 163840;
const HEADER = 12;
const BLOCK = 1440;
const PROMPTS = "/usr/share/sounds/alsa";  // spoken prompts of alsa-utils

const run = (command, ...args) => execFileSync(command, args, {stdio: ["ignore", "pipe", "pipe"]});
const tool = (...args) => run(quira, "-q", ...args);
const file = (name) => path.join(out, name);
const info = (carrier) => JSON.parse(tool("info", "--json", carrier).toString());

// ---- Measures -----------------------------------------------------------------------------

// In-place radix-2 FFT of re/im (length a power of two); inverse when sign is +1.
function fft(re, im, sign) {
  const n = re.length;
  for (let i = 1, j = 0; i < n; i++) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      [re[i], re[j]] = [re[j], re[i]];
      [im[i], im[j]] = [im[j], im[i]];
    }
  }
  for (let size = 2; size <= n; size <<= 1) {
    const angle = (sign * 2 * Math.PI) / size;
    for (let start = 0; start < n; start += size) {
      for (let k = 0; k < size / 2; k++) {
        const wr = Math.cos(angle * k), wi = Math.sin(angle * k);
        const a = start + k, b = a + size / 2;
        const xr = re[b] * wr - im[b] * wi, xi = re[b] * wi + im[b] * wr;
        re[b] = re[a] - xr;
        im[b] = im[a] - xi;
        re[a] += xr;
        im[a] += xi;
      }
    }
  }
}

// Where got lines up with want (got[i] ~ want[i - lag], |lag| <= most) by cross-correlation,
// and the signal-to-noise ratio of got against want there, both at full scale 1.
function match(got, want, most) {
  let n = 1;
  while (n < got.length + want.length) n <<= 1;
  const ar = new Float64Array(n), ai = new Float64Array(n), br = new Float64Array(n), bi = new Float64Array(n);
  ar.set(got);
  br.set(want);
  fft(ar, ai, -1);
  fft(br, bi, -1);
  for (let i = 0; i < n; i++) {
    const r = ar[i] * br[i] + ai[i] * bi[i], m = ai[i] * br[i] - ar[i] * bi[i];
    ar[i] = r;
    ai[i] = m;
  }
  fft(ar, ai, 1);  // ar[lag mod n] is the correlation at lag
  let lag = 0;
  for (let l = -most; l <= most; l++) if (ar[(l + n) % n] > ar[(lag + n) % n]) lag = l;
  let signal = 0, noise = 0;
  for (let i = Math.max(0, lag); i < got.length && i - lag < want.length; i++) {
    const w = want[i - lag];
    signal += w * w;
    noise += (got[i] - w) * (got[i] - w);
  }
  return {lag, snr: 10 * Math.log10(signal / noise)};
}

// The same in windows of half a second, each at its own lag near the whole's (a capture that
// dropped or repeated a few milliseconds moves what follows): the lags found, in order with how
// many windows each, each window's signal-to-noise ratio, and the ratio over all.
function matchWindows(got, want, whole) {
  const W = 8000, near = 1600;
  const lags = [], snrs = [];
  let signal = 0, noise = 0;
  for (let at = Math.max(0, whole); at + W <= got.length && at - whole + W <= want.length; at += W) {
    const from = Math.max(0, at - whole - near);
    const piece = want.subarray(from, Math.min(want.length, at - whole + W + near));
    const lag = match(got.subarray(at, at + W), piece, W + near).lag + at - from;
    if (!lags.length || lags[lags.length - 1][0] !== lag) lags.push([lag, 0]);
    lags[lags.length - 1][1]++;
    let s = 0, n = 0;
    for (let i = at; i < at + W && i - lag < want.length; i++) {
      if (i - lag < 0) continue;
      const w = want[i - lag];
      s += w * w;
      n += (got[i] - w) * (got[i] - w);
    }
    signal += s;
    noise += n;
    snrs.push(10 * Math.log10(s / n));
  }
  return {lags, snrs, snr: 10 * Math.log10(signal / noise)};
}

const toFloat = (samples) => Float64Array.from(samples, (v) => v / 32768);

// A recording at 16 kHz mono, as sox brings it there (channels averaged), unquantised.
function reference(input) {
  const raw = file(path.basename(input) + ".f32");
  run("sox", input, "-r", "16000", "-c", "1", "-t", "f32", raw);
  const bytes = fs.readFileSync(raw);
  return Float64Array.from(new Float32Array(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length)));
}

// ---- The page -----------------------------------------------------------------------------

const openPage = (context) => openAt(context, PAGE_URL);

const events = (page) => page.evaluate(() => window.quiraMaking.events);

// Waits until the view holds a recording, or refused one; returns what it said.
async function settled(page) {
  await page.waitForFunction(() => !document.getElementById("maker-save").disabled ||
    !document.getElementById("maker-notice").hidden, null, {timeout: SLOW, polling: 100});
  return (await page.textContent("#maker-notice")) || null;
}

async function pickRecording(page, input) {
  const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.click("#pick-recording")]);
  await chooser.setFiles(input);
  return settled(page);
}

// Chooses effect (a code), level and bit rate and saves the message under name; the file saved.
async function save(page, choice, name) {
  await page.selectOption("#maker-effect", String(choice.code));
  if (choice.code) await page.fill("#maker-level", String(choice.level));
  await page.selectOption("#maker-bitrate", String(choice.kbps));
  await page.fill("#maker-name", name);
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#maker-make")]);
  assert.equal(download.suggestedFilename(), name, "saved under the name given");
  const saved = file(`page-${name}`);
  await download.saveAs(saved);
  await page.waitForFunction(() => /^Saved/.test(document.getElementById("maker-made").textContent));
  return saved;
}

// The options of `quira make` for a choice.
const makeOptions = (c) => [...(c.code ? ["--effect", String(c.code), "--level", String(c.level)] : []),
  "--bitrate", String(c.kbps)];

// The carrier the page made against the tool's from the same file: header, voice mark, blocks
// and every byte; where bytes differ, the SNR between the two dry exports says by how much.
function sameAsTool(saved, input, choice, name) {
  const made = file(`tool-${name}`);
  tool("make", input, "-o", made, "--force", ...makeOptions(choice));
  const page = fs.readFileSync(saved), ours = fs.readFileSync(made);
  const pageInfo = info(saved), toolInfo = info(made);
  assert.equal(pageInfo.header, toolInfo.header, "the header: voice mark, effect and level");
  assert.ok(pageInfo.voice_samples > 0, "a voice mark");
  assert.equal(pageInfo.blocks, toolInfo.blocks, "blocks");
  assert.equal(pageInfo.player, "ours", "the page's carrier begins with our player");
  assert.equal(pageInfo.decoded_blocks, pageInfo.blocks, "every block decodes");
  if (page.equals(ours)) return `${toolInfo.blocks} blocks, ${pageInfo.voice_samples} samples of voice, byte-identical`;
  tool("export", "--dry", saved, "-o", file(`page-${name}.dry.wav`));
  tool("export", "--dry", made, "-o", file(`tool-${name}.dry.wav`));
  const m = match(toFloat(wavSamples(file(`page-${name}.dry.wav`))), toFloat(wavSamples(file(`tool-${name}.dry.wav`))), 0);
  return `${toolInfo.blocks} blocks, same header; bytes differ: SNR ${m.snr.toFixed(1)} dB between the dry exports`;
}

// ---- Recordings ---------------------------------------------------------------------------

function recordings() {
  run("espeak-ng", "-w", file("espeak.wav"), "This message was recorded in the browser. " +
    "It is resampled, encoded and laid out in blocks behind a small player. Please call me back.");
  const made = {
    "16k-mono.wav": ["sox", file("espeak.wav"), "-r", "16000", "-b", "16", file("16k-mono.wav")],
    "48k-mono.wav": ["sox", file("espeak.wav"), "-r", "48000", "-b", "16", file("48k-mono.wav")],
    "48k-stereo.wav": ["sox", "-M", file("48k-mono.wav"), `${PROMPTS}/Front_Left.wav`, "-b", "16", file("48k-stereo.wav")],
    "prompt-right.wav": ["sox", `${PROMPTS}/Rear_Right.wav`, "-r", "16000", "-b", "16", file("prompt-right.wav")],
    "16k-stereo.wav": ["sox", "-M", file("16k-mono.wav"), file("prompt-right.wav"), "-b", "16", file("16k-stereo.wav")],
    "prompt.flac": ["sox", `${PROMPTS}/Front_Center.wav`, file("prompt.flac")],
    "prompt.ogg": ["sox", `${PROMPTS}/Side_Left.wav`, file("prompt.ogg")],
    "prompt.mp3": ["lame", "--quiet", "-b", "64", `${PROMPTS}/Front_Right.wav`, file("prompt.mp3")],
    "silence.wav": ["sox", "-n", "-r", "48000", "-c", "1", "-b", "16", file("silence.wav"), "trim", "0", "3"],
  };
  for (const [, command] of Object.entries(made)) run(...command);
  fs.writeFileSync(file("notes.txt"), "Call me back.\n");
  // Hostile headers, sparse files so that they take no room on disk: one that promises 13 hours
  // at 16 kHz, and one of 65,535 channels (a buffer of 16,384 frames of them would be 4 GiB).
  const hostile = (name, channels, dataBytes) => {
    const header = Buffer.alloc(44);
    header.write("RIFF", 0);
    header.writeUInt32LE(36 + dataBytes, 4);
    header.write("WAVEfmt ", 8);
    header.writeUInt32LE(16, 16);
    header.writeUInt16LE(1, 20);
    header.writeUInt16LE(channels, 22);
    header.writeUInt32LE(16000, 24);
    header.writeUInt32LE(16000 * 2 * channels, 28);
    header.writeUInt16LE((2 * channels) & 0xFFFF, 32);  // wraps, as a hostile header may
    header.writeUInt16LE(16, 34);
    header.write("data", 36);
    header.writeUInt32LE(dataBytes, 40);
    fs.writeFileSync(file(name), header);
    fs.truncateSync(file(name), 44 + dataBytes);
  };
  hostile("long.wav", 1, 13 * 3600 * 16000 * 2);
  hostile("crowd.wav", 65535, 65535 * 2 * 16000);
  // Recordings the maker mends: the speech as floats with NaN, infinities and samples past full
  // scale written over some of it, and the 16-bit speech whose header declares ten times what
  // the file holds (a copy cut short).
  run("sox", file("espeak.wav"), "-e", "floating-point", "-b", "32", file("nan.wav"));
  const floats = fs.readFileSync(file("nan.wav"));
  const data = floats.indexOf("data") + 8;
  for (let i = 0; i < 3200; i++) floats.writeFloatLE(NaN, data + 4 * (4000 + 3 * i));
  for (let i = 0; i < 60; i++) floats.writeFloatLE(i % 2 ? Infinity : -Infinity, data + 4 * (20000 + 5 * i));
  for (let i = 0; i < 60; i++) floats.writeFloatLE(i % 2 ? 3.5 : -1e10, data + 4 * (30000 + 7 * i));
  fs.writeFileSync(file("nan.wav"), floats);
  const cut = fs.readFileSync(file("16k-mono.wav"));
  const at = cut.indexOf("data") + 4;
  cut.writeUInt32LE(cut.readUInt32LE(at) * 10, at);
  cut.writeUInt32LE(at + 4 - 8 + cut.readUInt32LE(at), 4);
  fs.writeFileSync(file("cut.wav"), cut);
}

// ---- Cases --------------------------------------------------------------------------------

// Recordings picked: the same message as `quira make` makes of the same file.
const CASES = [
  ["16k-mono.wav", {code: 0, level: 0, kbps: 32}],
  ["16k-stereo.wav", {code: 4, level: -20, kbps: 16}],
  ["48k-mono.wav", {code: 5, level: 40, kbps: 32}],
  ["48k-stereo.wav", {code: 13, level: 127, kbps: 16}],
  ["prompt.flac", {code: 8, level: 64, kbps: 32}],  // decoded by the browser
];

const picked = (context) => check("recordings picked: the page's carriers are quira make's", async () => {
  const page = await openPage(context);
  const said = [];
  for (const [name, choice] of CASES) {
    assert.equal(await pickRecording(page, file(name)), null, `${name} is taken`);
    const saved = await save(page, choice, `${name.replace(/\..*$/, "")}.exe`);
    said.push(`${name}: ${sameAsTool(saved, file(name), choice, path.basename(saved).replace(/^page-/, ""))}`);
    if (name === "48k-mono.wav") said.push(await previews(page, saved));
  }
  await page.close();
  return "\n       " + said.join("\n       ");
});

// What the previews hand Web Audio: the message as heard from the carrier that will be saved,
// with the effect chosen ("Hear it with the effect") and without it ("Listen back").
async function previews(page, saved) {
  const heard = file("previewed-heard.wav"), dry = file("previewed-dry.wav");
  tool("export", saved, "-o", heard);
  tool("export", "--dry", saved, "-o", dry);
  const said = [];
  for (const [button, want] of [["#maker-preview", heard], ["#maker-listen", dry]]) {
    await page.evaluate(() => { window.quiraMaking.previewed = []; });
    await page.click(button);
    await page.waitForFunction(() => window.quiraMaking.previewed.reduce((n, s) => n + s.length, 0) >= 48000, null, {timeout: SLOW});
    await page.click(button);  // stop
    const got = Int16Array.from(await page.evaluate(() => window.quiraMaking.previewed.flatMap((s) => Array.from(s))));
    const expected = wavSamples(want).subarray(0, got.length);
    const at = got.findIndex((v, i) => v !== expected[i]);
    assert.equal(at, -1, `${button}: ${got.length} samples previewed; first difference at ${at}`);
    said.push(`${button.slice(7)} ${got.length} samples = quira export${button === "#maker-listen" ? " --dry" : ""}`);
  }
  return `previews: ${said.join(", ")}`;
}

// The microphone: a fake one that plays the speech once. The carrier holds what it heard.
const recorded = (context) => check("recorded from the microphone: voice mark, effect and level, the speech given back", async () => {
  const page = await openPage(context);
  await page.click("#record");
  await page.waitForFunction(() => /^00:00:0[2-9]/.test(document.getElementById("record-time").textContent), null, {timeout: SLOW});
  await page.screenshot({path: file("recording.png"), fullPage: true});
  const level = await page.evaluate(() => document.getElementById("record-level").value);
  await page.waitForFunction(() => /^00:00:(09|1)/.test(document.getElementById("record-time").textContent), null, {timeout: SLOW});
  await page.click("#record-stop");
  assert.equal(await settled(page), null, "the recording is taken");
  const rate = (await events(page)).find((e) => e.recording).recording.rate;
  const saved = await save(page, {code: 8, level: 100, kbps: 32}, "recorded.exe");
  await page.screenshot({path: file("making.png"), fullPage: true});
  const facts = info(saved);
  assert.equal(facts.effect_name, "chorus");
  assert.equal(facts.effect_level, 100);
  assert.ok(facts.voice_samples >= 9 * 16000 && facts.voice_samples < 30 * 16000, `${facts.voice_samples} samples of voice`);
  assert.equal(facts.player, "ours");
  tool("export", "--dry", saved, "-o", file("recorded.dry.wav"));
  const got = toFloat(wavSamples(file("recorded.dry.wav"))), speech = reference(file("espeak.wav"));
  const m = match(got, speech, 3 * 16000);
  const w = matchWindows(got, speech, m.lag);
  const windows = `windows ${w.snrs.map((v) => v.toFixed(1)).join(" ")} dB, lags ${w.lags.map(([lag, n]) => `${lag} x${n}`).join(", ")}`;
  // Nothing lost or repeated: every half second at the same lag, as clean as the encoder leaves
  // the speech (15 to 20 dB).
  assert.ok(w.lags.length === 1 && w.lags[0][0] === m.lag && w.snr > 12,
    `the speech played is not what was recorded, aligned by half seconds: ${windows}`);
  await page.close();
  const ms = (lag) => `${lag} (${(lag / 16).toFixed(1)} ms)`;
  return `captured at ${rate} Hz, meter at ${Number(level).toFixed(2)}, ${facts.voice_samples} samples of voice, ` +
    `chorus at 100; dry export against the speech: lag ${ms(m.lag)}, SNR ${m.snr.toFixed(1)} dB; ` +
    `by half seconds: SNR ${w.snr.toFixed(1)} dB, ${windows}`;
});

// Compressed recordings the browser decodes: the message holds their voice, as long as the
// recording they were made from (the decoders trim the encoder's delay their own ways).
const compressed = (context) => check("Ogg Vorbis and MP3 recordings: decoded by the browser, made into messages", async () => {
  const page = await openPage(context);
  const said = [];
  for (const [name, source] of [["prompt.ogg", "Side_Left.wav"], ["prompt.mp3", "Front_Right.wav"]]) {
    assert.equal(await pickRecording(page, file(name)), null, `${name} is taken`);
    const facts = info(await save(page, {code: 1, level: 64, kbps: 32}, `${name.replace(".", "-")}.exe`));
    const want = reference(`${PROMPTS}/${source}`).length;
    assert.ok(Math.abs(facts.voice_samples - want) < 1600, `${name}: ${facts.voice_samples} samples of voice, ${source} ${want}`);
    assert.equal(facts.decoded_blocks, facts.blocks);
    said.push(`${name}: ${facts.voice_samples} samples of voice (${source}: ${want})`);
  }
  await page.close();
  return said.join("; ");
});

// Recordings that make no message: one sentence each, and nothing to save.
const refusals = (context) => check("no message from an undecodable file, silence, a recording too long, 65,535 channels", async () => {
  const page = await openPage(context);
  const said = [];
  for (const [name, want] of [["notes.txt", /“notes\.txt” is not a recording this browser can decode/],
                              ["silence.wav", /“silence\.wav” is silent: there is no voice in it/],
                              ["long.wav", /“long\.wav” is too long: this page makes messages of up to 12 hours/],
                              ["crowd.wav", /“crowd\.wav” could not be made into a message: the sampling rate or channel count is not supported\./]]) {
    await pickRecording(page, file(name));
    // The page is reused: the sentence that counts is the one naming this file.
    await page.waitForFunction((n) => {
      const e = document.getElementById("maker-notice");
      return !e.hidden && e.textContent.includes(n);
    }, name, {timeout: SLOW});
    const text = await page.textContent("#maker-notice");
    assert.match(text, want);
    assert.ok(await page.isDisabled("#maker-make"), `${name}: nothing to save`);
    said.push(`${name}: ${text}`);
  }
  await page.close();
  return "\n       " + said.join("\n       ");
});

// What the maker mends it says, as quira make warns of it: samples that were not numbers made
// silent, samples beyond full scale clipped (the same counts as the tool's), and a file that holds
// less than its header declares. The message is still made, the tool's own.
const mended = (context) => check("mended recordings: what was made silent, clipped or missing is said, as quira make says it", async () => {
  const page = await openPage(context);
  const said = [];
  for (const name of ["nan.wav", "cut.wav"]) {
    const notice = await pickRecording(page, file(name));
    assert.ok(!(await page.isDisabled("#maker-make")), `${name}: a message to save`);
    const warned = spawnSync(quira, ["make", "--force", file(name), "-o", file(`warned-${name}.exe`)]).stderr.toString();
    const counts = (text, what) => (text.match(new RegExp(`(\\d[\\d,]*) samples? (?:that (?:was|were) )?${what}`)) || [])[1];
    if (name === "nan.wav") {
      assert.equal(counts(notice, "not"), "3,200", `the page: ${notice}`);
      assert.match(warned, /made silent 3200 samples that were not numbers \(NaN\)/);
      assert.equal(counts(notice, "beyond").replace(/,/g, ""), counts(warned, "beyond"), `page: ${notice}; tool: ${warned}`);
    } else {
      assert.match(notice, /^“cut\.wav” declares 1 min 18 s but holds 7\.8 s \(it may have been cut short\): the message is made from what it holds\.$/);
      const made = (await events(page)).filter((e) => e.finished).pop().finished;
      assert.equal(made.declared, made.frames * 10, "the frames declared, ten times those held");
    }
    const saved = await save(page, {code: 0, level: 0, kbps: 32}, `mended-${name.replace(".wav", "")}.exe`);
    said.push(`${name}: “${notice}” ${sameAsTool(saved, file(name), {code: 0, level: 0, kbps: 32}, `mended-${name}`)}`);
    if (name === "nan.wav") await page.screenshot({path: file("mended.png"), fullPage: true});
  }
  await page.close();
  return "\n       " + said.join("\n       ");
});

// Browsers without MediaStreamTrackProcessor record through a Web Audio worklet. Its timing
// follows the machine's load, so this asks only for a message of the seconds recorded.
const recordedByWorklet = (context) => check("recorded through Web Audio where the track cannot be read", async () => {
  const page = await openPage(context);
  assert.equal(await page.evaluate(() => typeof MediaStreamTrackProcessor), "undefined");
  await page.click("#record");
  await page.waitForFunction(() => /^00:00:0[3-9]/.test(document.getElementById("record-time").textContent), null, {timeout: SLOW});
  await page.click("#record-stop");
  assert.equal(await settled(page), null, "the recording is taken");
  const saved = await save(page, {code: 3, level: 80, kbps: 16}, "worklet.exe");
  const facts = info(saved);
  assert.equal(facts.effect_level, 80);
  assert.ok(facts.voice_samples >= 3 * 16000 && facts.voice_samples < 20 * 16000, `${facts.voice_samples} samples of voice`);
  await page.close();
  return `${facts.voice_samples} samples of voice, ${facts.effect_name} at 80`;
});

const refusedMicrophone = (context) => check("a refused microphone: one sentence, nothing to save", async () => {
  const page = await openPage(context);
  await page.click("#record");
  await page.waitForSelector("#maker-notice:not([hidden])", {timeout: SLOW});
  const text = await page.textContent("#maker-notice");
  assert.match(text, /The microphone was refused/);
  assert.ok(await page.isDisabled("#maker-make"));
  await page.close();
  return `“${text}”`;
});

async function main() {
  recordings();
  // The microphone plays the speech once, and the page may use it without asking.
  const browser = await launch(["--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream",
    `--use-file-for-fake-audio-capture=${file("espeak.wav")}%noloop`]);
  // Here every request for the microphone is refused, as a person may refuse it.
  const refusing = await launch(["--use-fake-device-for-media-stream", "--deny-permission-prompts"]);
  const contexts = [await newContext(browser, {width: 900, height: 1100}), await newContext(refusing, {width: 900, height: 1100}),
    await newContext(browser, {width: 900, height: 1100})];
  await contexts[2].addInitScript(() => { delete window.MediaStreamTrackProcessor; });
  // The recording first, alone: the machine's load makes a capture run late.
  await recorded(contexts[0]);
  await Promise.all([picked(contexts[0]), compressed(contexts[0]), refusals(contexts[0]), mended(contexts[0]),
    refusedMicrophone(contexts[1]), recordedByWorklet(contexts[2])]);
  await browser.close();
  await refusing.close();
  await finish();
}

main().catch((e) => {
  console.log(`FAIL ${e.stack || e}`);
  process.exit(1);
});
