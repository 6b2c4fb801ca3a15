// SPDX-License-Identifier: MIT
// Web messages in one browser engine (chromium, firefox or webkit, engines.js), opened from disk
// as the person who received one opens it, and used as a person would:
//   - the tool's web message plays by itself (or at a press of Play where the engine waits for
//     one): what reaches the audio destination is `quira export --as-played` of its carrier,
//     then silence; its WAV and MP3 downloads, named after the page, are `quira export`'s and
//     `quira extract`'s; axe-core finds nothing in it; in chromium, the same for a carrier of
//     every effect family;
//   - the page's "Save as a web message" is the tool's web message, byte for byte, from the
//     carrier and from the web message itself opened with the page's Open button;
//   - a web message cut short, one whose closing comment lies about its length, one of a foreign
//     player and the empty player page each say their one sentence (or the warning), with no
//     error in the page;
//   - in chromium, in the test's pseudo-language, no text of the page outside the catalogues;
//     and the web message on a phone 390 px wide: nothing wider than the screen.
//
//   node share_test.js ENGINE PAGE QUIRA OUT_DIR
//
// PAGE is the built quira.html (the player page is the tool's, quira export -o x.html). OUT_DIR
// receives the carriers, web messages, downloads and the screenshots (ENGINE-message.png,
// ENGINE-foreign.png, chromium-phone-390.png). Prints one line per case and the count of passes
// and failures; exits 1 on any failure.
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync} = require("node:child_process");
const {accessible, check, compareAtDestination, destination, summary, unbracketed, wavSamples} = require("./harness");
const {launch, SLOW} = require("./engines");
const {startSound, sleep} = require("./services");

const [engine, pagePath, quira, out] = process.argv.slice(2);
if (!out) {
  console.error("usage: share_test.js chromium|firefox|webkit PAGE QUIRA OUT_DIR");
  process.exit(2);
}
fs.mkdirSync(out, {recursive: true});
const PAGE_URL = "file://" + path.resolve(pagePath) + "#test";
const PROMPTS = "/usr/share/sounds/alsa";  // spoken prompts of alsa-utils
const BLOCK_SECONDS = 0.36;
const PLAYER_BYTES = 163840;
const TRAILER_CHARS = 136;

const run = (command, ...args) => execFileSync(command, args, {stdio: ["ignore", "pipe", "pipe"]});
const tool = (...args) => run(quira, "-q", ...args);
const file = (name) => path.join(out, name);
const urlOf = (name) => "file://" + file(name) + "#test";
const shot = (tab, name) => tab.screenshot(file(`${engine}-${name}.png`));
const text = (tab, id) => tab.eval((i) => document.getElementById(i).textContent, id);
const BLOCKS = (carrier) => Math.ceil((fs.statSync(carrier).size - PLAYER_BYTES - 12) / 1440);

// A carrier of the family's effect, from a spoken prompt, and the tool's web message of it.
function message(name, effect, prompt) {
  tool("make", `${PROMPTS}/${prompt}`, "-o", file(`${name}.exe`), "--force", "--effect", effect, "--level", "60");
  tool("export", file(`${name}.exe`), "-o", file(`${name}.html`));
  return name;
}

// Opens the web message; it plays by itself where the engine lets sound play at once, else at a
// press of Play (WebKit's automation gives no autoplay). Waits for its end.
async function playToTheEnd(browser, name) {
  const tab = await browser.open(urlOf(`${name}.html`));
  await tab.waitFor(() => /^Quira \[/.test(document.getElementById("title").textContent));
  await sleep(300);
  if (await tab.eval(() => !document.getElementById("play").disabled)) await tab.click("#play");
  await tab.waitFor(() => document.getElementById("play").disabled);
  await tab.waitFor(() => !document.getElementById("play").disabled, undefined,
    BLOCKS(file(`${name}.exe`)) * BLOCK_SECONDS * 3000 + SLOW);
  await sleep(500);  // silence after the end, tapped too
  tool("export", file(`${name}.exe`), "--as-played", "-o", file(`${name}.as-played.wav`));
  const underruns = await tab.eval(() => window.quiraUnderruns || 0);
  const said = compareAtDestination(await destination(tab), wavSamples(file(`${name}.as-played.wav`)), name, underruns);
  return {tab, said};
}

function plays(browser, name, withDownloads) {
  return check(`${engine}: the tool's web message ${name}.html, opened from disk, plays its carrier as played`, async () => {
    const {tab, said} = await playToTheEnd(browser, name);
    const facts = await text(tab, "facts");
    const size = fs.statSync(file(`${name}.html`)).size;
    assert.ok(facts.includes(`${name}.html, ${size.toLocaleString("en-US")} bytes`), `the facts name the page and its size: ${facts}`);
    let downloads = "";
    if (withDownloads) {
      await shot(tab, "message");
      await accessible(tab, "a web message played");
      // The downloads are named after the page, and are the tool's files.
      tool("export", file(`${name}.html`), "-o", file(`${name}.tool.wav`));
      tool("extract", file(`${name}.html`), "-o", file(`${name}.tool.mp3`));
      const wav = await tab.download("#save-wav");
      assert.equal(wav.name, `${name}.wav`);
      assert.ok(wav.bytes.equals(fs.readFileSync(file(`${name}.tool.wav`))), "the WAV download is quira export's");
      const mp3 = await tab.download("#save-mp3");
      assert.equal(mp3.name, `${name}-recording.mp3`);
      assert.ok(mp3.bytes.equals(fs.readFileSync(file(`${name}.tool.mp3`))), "the MP3 download is quira extract's");
      assert.ok(await tab.eval(() => document.getElementById("save-web").hidden), "a web message offers no web message of itself");
      // The notices it holds deflated are there to read, the library's licence among them.
      assert.match(await text(tab, "quira-notices"), /GNU Lesser General Public License, version 2\.1/);
      downloads = `; WAV ${wav.bytes.length} and MP3 ${mp3.bytes.length} bytes, the tool's`;
    }
    assert.deepEqual(await tab.errors(), [], "no error in the page");
    await tab.close();
    return said + downloads;
  });
}

// The page's "Save as a web message", from the carrier and from the web message opened.
function saved(browser, name) {
  return check(`${engine}: the page's "Save as a web message" is the tool's file, byte for byte`, async () => {
    const want = fs.readFileSync(file(`${name}.html`));
    const said = [];
    for (const picked of [`${name}.exe`, `${name}.html`]) {
      const tab = await browser.open(PAGE_URL);
      await tab.chooseFile("#open", "#file", file(picked));
      await tab.waitFor(() => /^Quira \[/.test(document.getElementById("title").textContent));
      assert.ok(!(await tab.eval(() => document.getElementById("save-web").hidden)), "the page offers it");
      const started = Date.now();
      const got = await tab.download("#save-web");
      assert.equal(got.name, `${name}.html`);
      assert.ok(got.bytes.equals(want), `from ${picked}: ${got.bytes.length} bytes against the tool's ${want.length}`);
      await tab.waitFor(() => /^Saved/.test(document.getElementById("save-note").textContent));
      said.push(`from ${picked} in ${Date.now() - started} ms`);
      assert.deepEqual(await tab.errors(), [], "no error in the page");
      await tab.close();
    }
    return `${want.length} bytes, ${said.join(", ")}`;
  });
}

// Damaged and foreign web messages, made from a good one.
function hostile(browser, name) {
  return check(`${engine}: damaged, lying, foreign and empty web messages say so in one sentence`, async () => {
    const good = fs.readFileSync(file(`${name}.html`));
    const trailer = good.subarray(good.length - TRAILER_CHARS).toString("latin1");
    const at = Number(/at=(\d+)/.exec(trailer)[1]);
    const bytes = Number(/bytes=(\d+)/.exec(trailer)[1]);
    const head = good.subarray(0, at), rest = good.subarray(at + Math.ceil(bytes / 3) * 4);
    const base64 = good.subarray(at, at + Math.ceil(bytes / 3) * 4);
    const cases = {
      // The base64 cut short by a transfer that stopped, the page's end and comment kept.
      cut: Buffer.concat([head, base64.subarray(0, 4000), rest]),
      // A comment claiming three bytes more than the page holds.
      lying: Buffer.concat([head, base64, rest.subarray(0, rest.length - TRAILER_CHARS),
        Buffer.from(trailer.replace(/bytes=(\d+)/, (_, n) => `bytes=${String(Number(n) + 3).padStart(15, "0")}`), "latin1")]),
      // A character no base64 has, in the middle.
      garbled: Buffer.concat([head, base64.subarray(0, 400), Buffer.from("*"), base64.subarray(401), rest]),
      // The payload of a carrier whose player was not ours.
      foreign: Buffer.concat([head, base64, rest.subarray(0, rest.length - TRAILER_CHARS),
        Buffer.from(trailer.replace(/player=[0-9a-f]{64}/, `player=${"ab".repeat(32)}`), "latin1")]),
    };
    const said = [];
    for (const [kind, bytes] of Object.entries(cases)) {
      fs.writeFileSync(file(`${kind}.html`), bytes);
      const tab = await browser.open(urlOf(`${kind}.html`));
      if (kind === "foreign") {
        await tab.waitFor(() => /^Quira \[/.test(document.getElementById("title").textContent));
        assert.ok(await tab.eval(() => !document.getElementById("warning").hidden), "the foreign-player warning");
        assert.match(await text(tab, "facts"), /not a Quira player/);
        // The page itself is no program: the warning is about the file the message came from.
        assert.match(await text(tab, "warning-headline"), /the file this message came from/);
        await shot(tab, "foreign");
        await accessible(tab, "a foreign web message");
        said.push(`${kind}: the warning “${await text(tab, "warning-headline")}”`);
      } else {
        await tab.waitFor(() => !document.getElementById("notice").hidden);
        const sentence = await text(tab, "notice");
        assert.equal(sentence, `“${kind}.html” could not be opened: a damaged web message: its payload is not whole base64`);
        assert.ok(await tab.eval(() => document.getElementById("player").hidden), "no player for a damaged message");
        said.push(`${kind}: “${sentence}”`);
      }
      assert.deepEqual(await tab.errors(), [], `${kind}: no error in the page`);
      await tab.close();
    }
    // The player page as built, before a message is put in it.
    fs.writeFileSync(file("empty.html"), Buffer.concat([head, rest.subarray(0, rest.length - TRAILER_CHARS)]));
    const tab = await browser.open(urlOf("empty.html"));
    await tab.waitFor(() => !document.getElementById("notice").hidden);
    assert.match(await text(tab, "notice"), /holds no message/);
    assert.deepEqual(await tab.errors(), [], "empty: no error in the page");
    said.push(`empty: “${await text(tab, "notice")}”`);
    await tab.close();
    return said.join("; ");
  });
}

// In the test's pseudo-language, every text of the web message's page comes from the
// catalogues: a foreign message opened (the warning, the facts) and a damaged one refused.
function pseudoLanguage(browser) {
  return check(`${engine}: pseudo-language: every text of a web message's page comes from the catalogues`, async () => {
    const left = [];
    for (const [kind, shown] of [["foreign", "#facts dd"], ["cut", "#notice"]]) {
      const tab = await browser.open(urlOf(`${kind}.html`));
      await tab.waitFor((selector) => document.querySelector(selector) && document.querySelector(selector).textContent, shown);
      await tab.select("#language", "qps");
      await sleep(300);
      for (const text of await tab.eval(unbracketed)) left.push(`${kind}: ${text}`);
      await tab.select("#language", "en");
      await tab.close();
    }
    assert.deepEqual(left, [], "text outside the catalogues");
  });
}

// On a phone 390 px wide: the message page, opened and played, is no wider than the screen.
function phone(sound, name) {
  return check(`${engine}: the web message on a phone 390 px wide: nothing wider than the screen`, async () => {
    const browser = await launch(engine, {dir: file(`${engine}-phone`), sound, viewport: {width: 390, height: 844},
      context: {deviceScaleFactor: 2, isMobile: true, hasTouch: true}});
    const tab = await browser.open(urlOf(`${name}.html`));
    await tab.waitFor(() => /^Quira \[/.test(document.getElementById("title").textContent));
    await sleep(500);
    const m = await tab.eval(() => {
      const width = document.documentElement.clientWidth;
      const wide = [...document.querySelectorAll("body *")].filter((e) => {
        const r = e.getBoundingClientRect();
        return (r.width || r.height) && (r.right > width + 0.5 || r.left < -0.5);
      }).map((e) => e.id || e.tagName.toLowerCase());
      return {width, scrollWidth: document.documentElement.scrollWidth, wide};
    });
    await tab.page.screenshot({path: file("chromium-phone-390.png"), fullPage: true});
    assert.deepEqual(m.wide, [], "wider than the screen");
    assert.ok(m.scrollWidth <= m.width, `the page is ${m.scrollWidth} px wide on a ${m.width} px screen`);
    assert.deepEqual(await tab.errors(), [], "no error in the page");
    await browser.close();
    return `${m.scrollWidth} px of ${m.width}`;
  });
}

async function main() {
  const sound = await startSound(file("pulse"));
  const families = [message("reverb", "large-room", "Front_Center.wav")];
  if (engine === "chromium") {
    families.push(message("plain", "none", "Front_Left.wav"), message("swept", "chorus", "Rear_Right.wav"),
      message("pitch", "third-up", "Side_Left.wav"));
  }
  const started = Date.now();
  const browser = await launch(engine, {dir: file(engine), sound});
  console.log(`# ${engine} ${browser.version}, started in ${Date.now() - started} ms`);
  for (const [i, name] of families.entries()) await plays(browser, name, i === 0);
  await saved(browser, "reverb");
  await hostile(browser, "reverb");
  if (engine === "chromium") await pseudoLanguage(browser);
  await browser.close();
  if (engine === "chromium") await phone(sound, "reverb");
  sound.stop();
  summary();
}

main().catch((e) => {
  console.log(`FAIL ${e.stack || e}`);
  process.exit(1);
});
