// SPDX-License-Identifier: MIT
// The page on phones: Debian's chromium emulating a touch phone 320 and 390 CSS px wide, the page
// opened from disk and used with taps. In every state a person meets (the page as opened, the
// new-message view with its effects listed, a carrier opened, playing, not ours, a file that is
// not a carrier, a recording picked and a message made) nothing is wider than the screen (no
// horizontal scrolling, every fieldset inside its box) and every control a finger uses is at
// least 44 x 44 CSS px. Prints what it measured: the widest the page became and the smallest
// control in each state.
//
//   node phone_test.js PAGE QUIRA OUT_DIR
//
// OUT_DIR receives the carriers and recordings made here and the screenshots
// (phone-WIDTH-STATE.png, the whole page).
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync} = require("node:child_process");
const {SLOW, check, launch, newContext, openPage, finish} = require("./harness");

const [pagePath, quira, out] = process.argv.slice(2);
if (!out) {
  console.error("usage: phone_test.js PAGE QUIRA OUT_DIR");
  process.exit(2);
}
fs.mkdirSync(out, {recursive: true});
const PAGE_URL = "file://" + path.resolve(pagePath) + "#test";
const PROMPTS = "/usr/share/sounds/alsa";
const TARGET = 44;  // CSS px, each way

const run = (command, ...args) => execFileSync(command, args, {stdio: ["ignore", "pipe", "pipe"]});
const file = (name) => path.join(out, name);

// What overflows the screen and the controls too small to tap, in the page as it stands.
function measure(target) {
  const width = document.documentElement.clientWidth;
  const wide = [];
  const label = (e) => e.id ? `#${e.id}` : `${e.tagName.toLowerCase()}${e.className ? "." + String(e.className).split(" ")[0] : ""}`;
  for (const e of document.querySelectorAll("body *")) {
    const r = e.getBoundingClientRect();
    if (r.width === 0 && r.height === 0) continue;
    if (r.right > width + 0.5 || r.left < -0.5) wide.push(`${label(e)} ${Math.round(r.left)}..${Math.round(r.right)}`);
  }
  // A fieldset inside the box of the view that holds it.
  for (const f of document.querySelectorAll("fieldset")) {
    const box = f.closest("section").getBoundingClientRect(), r = f.getBoundingClientRect();
    if (r.right > box.right + 0.5 || r.left < box.left - 0.5) wide.push(`${label(f)} outside its box`);
  }
  const controls = [];
  for (const e of document.querySelectorAll("button, select, input, textarea, a[href], [tabindex], summary, label")) {
    const r = e.getBoundingClientRect();
    if (r.width === 0 && r.height === 0) continue;      // not shown
    if (e.tagName === "LABEL" && !e.control) continue;
    if (e.tagName === "LABEL") continue;                  // measured as its control
    controls.push({what: label(e), width: Math.round(r.width * 10) / 10, height: Math.round(r.height * 10) / 10});
  }
  const small = controls.filter((c) => c.width < target || c.height < target);
  const smallest = controls.reduce((m, c) => (!m || Math.min(c.width, c.height) < Math.min(m.width, m.height) ? c : m), null);
  return {scrollWidth: document.documentElement.scrollWidth, width, wide: wide.slice(0, 12), controls: controls.length, small, smallest};
}

async function state(page, width, name, said) {
  await page.waitForTimeout(150);
  const m = await page.evaluate(measure, TARGET);
  await page.screenshot({path: file(`phone-${width}-${name}.png`), fullPage: true});
  assert.ok(m.scrollWidth <= m.width, `${width} px, ${name}: the page is ${m.scrollWidth} px wide: ${m.wide.join("; ")}`);
  assert.deepEqual(m.wide, [], `${width} px, ${name}: wider than the screen`);
  assert.deepEqual(m.small, [], `${width} px, ${name}: controls under ${TARGET} x ${TARGET} px`);
  said.push(`${name}: ${m.controls} controls, smallest ${m.smallest.what} ${m.smallest.width}x${m.smallest.height}`);
}

async function pick(page, button, input) {
  const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.tap(button)]);
  await chooser.setFiles(input);
}

function phone(browser, width, height, carriers) {
  return check(`${width} px phone: no horizontal scrolling in any state, every control ${TARGET} x ${TARGET} px`, async () => {
    const context = await newContext(browser, {width, height}, {deviceScaleFactor: 2, isMobile: true, hasTouch: true});
    const page = await openPage(context, PAGE_URL);
    const said = [];
    await state(page, width, "start", said);

    // The new-message view lists its effects once a person comes to it.
    await page.tap("#maker-heading");
    await page.waitForFunction(() => document.querySelectorAll("#maker-effect option").length > 1, null, {timeout: SLOW});
    await state(page, width, "maker", said);

    await pick(page, "#open", carriers.notOurs);
    await page.waitForSelector("#notice:not([hidden])");
    await state(page, width, "not-a-message", said);

    await pick(page, "#open", carriers.foreign);
    await page.waitForFunction(() => !document.getElementById("warning").hidden && document.getElementById("facts").textContent.includes("decode"), null, {timeout: SLOW});
    await state(page, width, "foreign", said);

    await pick(page, "#open", carriers.long);
    await page.waitForFunction(() => document.getElementById("play").disabled, null, {timeout: SLOW});
    await state(page, width, "playing", said);
    await page.tap("#stop");
    await page.waitForFunction(() => !document.getElementById("play").disabled && document.getElementById("facts").textContent.includes("decode"));
    await state(page, width, "opened", said);

    await pick(page, "#pick-recording", carriers.recording);
    await page.waitForFunction(() => !document.getElementById("maker-save").disabled, null, {timeout: SLOW});
    await page.selectOption("#maker-effect", "13");
    await state(page, width, "recording-picked", said);
    const [download] = await Promise.all([page.waitForEvent("download"), page.tap("#maker-make")]);
    await download.path();
    await page.waitForFunction(() => /^Saved/.test(document.getElementById("maker-made").textContent));
    await state(page, width, "made", said);
    await context.close();
    return "\n       " + said.join("\n       ");
  });
}

async function main() {
  const tool = (...args) => run(quira, "-q", ...args);
  // A name as long as names from mail attachments get, in the title bar, the facts and notices.
  const long = file("Voice message from Alexandra Montgomery-Fitzgerald, Tuesday afternoon.exe");
  tool("make", `${PROMPTS}/Front_Left.wav`, "-o", long, "--force", "--effect", "large-room");
  const foreign = file("foreign.exe");
  const bytes = fs.readFileSync(long);
  bytes[0x200] ^= 0x55;
  fs.writeFileSync(foreign, bytes);
  const notOurs = file("a-note-with-a-rather-long-name-that-is-no-voice-message-at-all.txt");
  fs.writeFileSync(notOurs, "Call me back.\n");
  const recording = file("recording.wav");
  run("sox", `${PROMPTS}/Rear_Left.wav`, "-r", "48000", "-b", "16", recording);
  const carriers = {long, foreign, notOurs, recording};

  const browser = await launch();
  await phone(browser, 320, 640, carriers);
  await phone(browser, 390, 844, carriers);
  await browser.close();
  await finish();
}

main().catch((e) => {
  console.log(`FAIL ${e.stack || e}`);
  process.exit(1);
});
