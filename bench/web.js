// SPDX-License-Identifier: MIT
// The web page's benchmark (bench/web.sh): node web.js PAGE QUIRA CARRIER
// Prints the time from the carrier reaching the page to its first buffers handed to Web Audio
// (median of several fresh pages), and the page's decoding of the whole message against the
// native tool's, as the median of several runs each and their ratio.
"use strict";
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync} = require("node:child_process");
const {chromium} = require("playwright-core");

const [pagePath, quira, carrier] = process.argv.slice(2);
const URL_ = "file://" + path.resolve(pagePath) + "#test";
const RUNS = 5;
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function fresh(context) {
  const page = await context.newPage();
  await page.goto(URL_);
  // Ready: the sound output is set up and the module compiled, as for a person who opened the
  // page and then went to find the file.
  await page.waitForFunction(() => window.quiraAudio !== undefined);
  await page.waitForTimeout(300);
  return page;
}

// Times from the file's arrival (the drop event, or the picker's change event) to the worker's
// handing the first buffer to Web Audio, and the first one holding the message (after the
// start's silences and the priming block). Both clocks are the same wall clock.
async function firstSample(context, how) {
  const page = await fresh(context);
  if (how === "drop") {
    const base64 = fs.readFileSync(carrier).toString("base64");
    await page.evaluate(([name, data]) => {
      const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
      const transfer = new DataTransfer();
      transfer.items.add(new File([bytes], name));
      window.quiraArrived = performance.timeOrigin + performance.now();
      document.getElementById("drop").dispatchEvent(new DragEvent("drop", {dataTransfer: transfer, bubbles: true}));
    }, [path.basename(carrier), base64]);
  } else {
    await page.evaluate(() => document.getElementById("file").addEventListener("change", () => {
      window.quiraArrived = performance.timeOrigin + performance.now();
    }, {capture: true}));
    await page.setInputFiles("#file", carrier);
  }
  await page.waitForFunction(() => window.quiraTapped.some((b) => b.kind === 2), null, {timeout: 60000});
  const [first, heard] = await page.evaluate(() => [
    window.quiraTapped[0].sent - window.quiraArrived,
    window.quiraTapped.find((b) => b.kind === 2).sent - window.quiraArrived]);
  await page.close();
  return {first, heard};
}

// The page's decoding of the whole message, as the worker times it, and the whole save.
async function pageDecode(page) {
  const started = Date.now();
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#save-wav")]);
  await download.path();
  return {decoded: await page.evaluate(() => window.quiraDecoded), saved: Date.now() - started};
}

function nativeDecode() {
  const started = process.hrtime.bigint();
  execFileSync(quira, ["-q", "export", carrier, "-o", "-"], {stdio: ["ignore", "ignore", "inherit"], maxBuffer: 1 << 30});
  return Number(process.hrtime.bigint() - started) / 1e6;
}

(async () => {
  const browser = await chromium.launch({executablePath: "/usr/bin/chromium", headless: true,
    args: ["--autoplay-policy=no-user-gesture-required", "--no-sandbox", "--mute-audio"]});
  const context = await browser.newContext({acceptDownloads: true});

  for (const how of ["drop", "pick"]) {
    const runs = [];
    for (let i = 0; i < RUNS; i++) runs.push(await firstSample(context, how));
    console.log(`${how === "drop" ? "dropped" : "picked "} -> first buffer handed to Web Audio: median ` +
      `${median(runs.map((r) => r.first)).toFixed(1)} ms; first buffer of the message: ` +
      `${median(runs.map((r) => r.heard)).toFixed(1)} ms (${RUNS} fresh pages)`);
  }

  // The whole message with its effect, decoded in the page (the WAV it saves) and by the tool,
  // turn about.
  const page = await fresh(context);
  await page.setInputFiles("#file", carrier);
  await page.waitForFunction(() => document.getElementById("wave-note").textContent === "" &&
    document.getElementById("facts").textContent.includes("decode"), null, {timeout: 120000});
  await page.click("#stop");
  const web = [];
  const native = [];
  for (let i = 0; i < RUNS; i++) {
    web.push(await pageDecode(page));
    native.push(nativeDecode());
  }
  const w = median(web.map((r) => r.decoded));
  const saved = median(web.map((r) => r.saved));
  const n = median(native);
  const seconds = (fs.statSync(carrier).size - 163852) / 4000;
  console.log(`decode of ${seconds.toFixed(0)} s with its effect: page ${w.toFixed(0)} ms ` +
    `(${(seconds * 1000 / w).toFixed(0)}x real time; ${saved.toFixed(0)} ms to the saved file), ` +
    `native quira export ${n.toFixed(0)} ms, ratio page/native ${(w / n).toFixed(2)}`);
  await browser.close();
})().catch((e) => {
  console.error(e);
  process.exit(1);
});
