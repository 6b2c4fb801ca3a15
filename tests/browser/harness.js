// SPDX-License-Identifier: MIT
// What the web page's browser tests share: Debian's chromium driven by playwright-core (from
// NODE_PATH, scripts/setup-browser.sh; it downloads no browser), the cases and their count,
// pages that keep their errors and every request made, and the tool's WAV files.
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

module.exports = {SLOW, check, launch, newContext, openPage, finish, summary, wavSamples};
