// SPDX-License-Identifier: MIT
// What the web page's browser tests share: Debian's chromium driven by playwright-core (from
// NODE_PATH, scripts/setup-browser.sh; it downloads no browser), the cases and their count,
// pages that keep their errors and every request made, the tool's WAV files, and what reached
// a page's audio destination held against the tool's samples (in any engine's tab, engines.js).
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");

let chromium;
try {
  ({chromium} = require("playwright-core"));
} catch (e) {
  console.error("playwright-core is not installed: run scripts/setup-browser.sh");
  process.exit(1);
}

// The machine is shared: what takes a second when it is idle may take many under load. Waits
// are long enough for that; none of them is a measurement.
const SLOW = 60000;

let failures = 0;
let passes = 0;
// Runs one case: a line "ok" with what its body returned (if anything), or "FAIL" and why.
async function check(name, body) {
  const started = Date.now();
  try {
    const said = await body();
    passes++;
    console.log(`ok   ${name} (${Date.now() - started} ms)${said ? `: ${said}` : ""}`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${name}: ${e && e.stack ? e.stack : e}`);
  }
}

const requests = [];
const pageErrors = [];

// Debian's chromium, headless; sound plays without a person's click, into nothing.
function launch(args = []) {
  return chromium.launch({executablePath: "/usr/bin/chromium", headless: true,
    args: ["--autoplay-policy=no-user-gesture-required", "--no-sandbox", "--mute-audio", ...args]});
}

// A context whose requests are all kept, in English unless options (playwright's) name another
// locale: the page speaks the browser's language, and the tests read its English sentences.
async function newContext(browser, viewport, options = {}) {
  const context = await browser.newContext({acceptDownloads: true, viewport, locale: "en-US", ...options});
  context.on("request", (r) => requests.push(r.url()));
  return context;
}

async function openPage(context, url) {
  const page = await context.newPage();
  page.on("pageerror", (e) => pageErrors.push(e.message));
  page.on("console", (m) => { if (m.type() === "error") console.log(`page console: ${m.text()}`); });
  await page.goto(url);
  return page;
}

// The last cases: no page failed, none reached out; then the count, and the exit status.
async function finish() {
  await check("no error in any page", async () => assert.deepEqual(pageErrors, []));
  await check("no network request", async () => {
    assert.deepEqual(requests.filter((u) => !/^(file|blob|data):/.test(u)), []);
  });
  summary();
}

// The count of passes and failures, and the exit status.
function summary() {
  console.log(`${passes} passed, ${failures} failed`);
  process.exit(failures ? 1 : 0);
}

// The samples of a 16-bit WAV file the tool wrote (a canonical 44-byte header).
function wavSamples(file) {
  const bytes = fs.readFileSync(file);
  assert.equal(bytes.toString("latin1", 36, 40), "data", `${file}: a canonical WAV header`);
  return new Int16Array(bytes.buffer.slice(bytes.byteOffset + 44, bytes.byteOffset + bytes.length));
}

// Everything that reached the audio destination since the page loaded, as the floats it got:
// fetched as base64 of their bytes, so that no engine rounds them on the way.
async function destination(tab) {
  const base64 = await tab.eval(() => {
    const parts = window.quiraDestination;
    const n = parts.reduce((s, p) => s + p.length, 0);
    const all = new Float32Array(n);
    let at = 0;
    for (const p of parts) {
      all.set(p, at);
      at += p.length;
    }
    const bytes = new Uint8Array(all.buffer);
    let binary = "";
    for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(binary);
  });
  const bytes = Buffer.from(base64, "base64");
  return new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
}

// The destination's stream against the as-played export: from the first sound on, the same
// samples, then nothing but silence. Samples off the 16-bit grid are counted apart: the page
// plays the tool's 16-bit samples, so every one must be on it. On a busy machine the output may
// run dry for a moment and play silence until the next buffer comes (as a sound card does): the
// page counts those samples (underruns), and up to that many zeros may stand between the
// message's samples. Nothing else may: every sample of the message, in order, each once.
function compareAtDestination(floats, want, what, underruns = 0) {
  const offGrid = [];
  const got = new Int16Array(floats.length);
  for (let i = 0; i < floats.length; i++) {
    const v = floats[i] * 32768;
    if (v !== Math.round(v)) offGrid.push(i);
    got[i] = Math.max(-32768, Math.min(32767, Math.round(v)));
  }
  const first = (a) => a.findIndex((v) => v !== 0);
  const from = first(got), wantFrom = first(want);
  assert.ok(from >= 0, `${what}: nothing but silence reached the destination`);
  const heard = got.subarray(from), expected = want.subarray(wantFrom);
  // Zeros are alike, so skipping each unexpected zero as it comes finds the inserted silence.
  let j = 0, inserted = 0;
  for (let i = 0; i < expected.length; i++, j++) {
    while (j < heard.length && heard[j] === 0 && expected[i] !== 0 && inserted < underruns) {
      j++;
      inserted++;
    }
    assert.ok(j < heard.length, `${what}: the destination got ${heard.length - inserted} of the ${expected.length} samples from the first sound on`);
    assert.equal(heard[j], expected[i], `${what}: sample ${i} from the first sound (${(i / 16000).toFixed(3)} s): ${heard[j]} against ${expected[i]}` +
      ` (${inserted} of ${underruns} samples of underrun silence passed over)` +
      (offGrid.length ? `; ${offGrid.length} samples off the 16-bit grid, the first at ${offGrid[0] - from}` : ""));
  }
  const after = heard.subarray(j);
  const tail = after.findIndex((v) => v !== 0);
  assert.equal(tail, -1, `${what}: after the message, sample ${tail} is ${after[tail]}: the page added sound the player does not play`);
  assert.deepEqual(offGrid, [], `${what}: samples off the 16-bit grid`);
  return `${expected.length} samples equal from the first sound on (${want.length} with the leading silence), ` +
    `then ${after.length} of silence` + (inserted ? `; the output ran dry for ${inserted} samples on the way` : "");
}

// Text on the page outside the pseudo-language's brackets: text nodes, the attributes a person
// or a screen reader meets, and the window's title (the player's own, "Quira [..]-[..]").
function unbracketed() {
  const strip = (s) => {
    for (let before = null; before !== s;) {
      before = s;
      s = s.replace(/⟦[^⟦⟧]*⟧/g, "");
    }
    return s;
  };
  const found = [];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node; (node = walker.nextNode());) {
    if (node.parentElement.closest("script, style, [translate=no]")) continue;
    if (/\p{L}/u.test(strip(node.data))) found.push(node.data.trim());
  }
  for (const element of document.body.querySelectorAll("*")) {
    for (const name of ["aria-label", "aria-valuetext", "title", "alt", "placeholder", "label"]) {
      const value = element.getAttribute(name);
      if (value && /\p{L}/u.test(strip(value))) found.push(`${element.id || element.tagName} ${name}="${value}"`);
    }
  }
  if (!/^Quira( \[[\d:]+\]-\[[\d:]+\])?$/.test(document.title)) found.push(`title "${document.title}"`);
  return found;
}

// axe-core in the page as it stands: every violation, by rule and the elements it names.
const AXE = fs.readFileSync(require.resolve("axe-core/axe.min.js"), "utf8");
async function accessible(tab, state) {
  if (!(await tab.eval(() => typeof window.axe === "object"))) await tab.raw(AXE);
  const violations = await tab.eval(async () => {
    const result = await window.axe.run(document, {resultTypes: ["violations"]});
    return result.violations.map((v) => `${v.id} (${v.impact}): ${v.help}: ${v.nodes.map((n) => n.target.join(" ")).join(", ")}`);
  });
  assert.deepEqual(violations, [], `axe-core in the ${state} state`);
}

module.exports = {SLOW, accessible, check, compareAtDestination, destination, launch, newContext, openPage, finish, summary,
  unbracketed, wavSamples};
