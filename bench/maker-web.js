// SPDX-License-Identifier: MIT
// The new-message view's benchmark (bench/maker-web.sh), in Debian's chromium, headless:
//   node maker-web.js make PAGE QUIRA RECORDING
//     the page making RECORDING (a WAV file) into a message, from the pick to the message ready
//     (its makers run at 32 and at 16 kbit/s at once), and the save, against `quira make` at
//     32 kbit/s of the same file timed in the same run (median of RUNS each), and their ratio;
//   node maker-web.js memory PAGE SPEECH MINUTES
//     a recording of MINUTES from a fake microphone that plays SPEECH over and over, then
//     saved: the page's JavaScript heap, the wasm memory of its maker worker, the JavaScript heap
//     of that worker and the memory of the page's process, idle and at their peak, sampled every
//     few seconds.
"use strict";
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync} = require("node:child_process");
const {chromium} = require("playwright-core");

const [mode, pagePath, ...rest] = process.argv.slice(2);
const URL_ = "file://" + path.resolve(pagePath) + "#test";
const RUNS = 3;
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const MB = (n) => `${(n / 1048576).toFixed(1)} MB`;

const launch = (args) => chromium.launch({executablePath: "/usr/bin/chromium", headless: true,
  args: ["--no-sandbox", "--mute-audio", "--autoplay-policy=no-user-gesture-required", "--enable-precise-memory-info", ...args]});

async function readyPage(context) {
  const page = await context.newPage();
  await page.goto(URL_);
  // The view starts its worker when a person comes to it; then the module is compiled and the
  // effects are listed.
  await page.hover("#maker");
  await page.waitForFunction(() => document.getElementById("maker-effect").options.length > 1);
  return page;
}

async function make(quira, recording) {
  const browser = await launch([]);
  const context = await browser.newContext({acceptDownloads: true});
  const pageTimes = [], saveTimes = [], toolTimes = [];
  for (let run = 0; run < RUNS; run++) {
    const page = await readyPage(context);
    const started = Date.now();
    const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.click("#pick-recording")]);
    await chooser.setFiles(recording);
    await page.waitForFunction(() => !document.getElementById("maker-save").disabled, null, {timeout: 600000, polling: 50});
    pageTimes.push(Date.now() - started);
    const saving = Date.now();
    const [download] = await Promise.all([page.waitForEvent("download"), page.click("#maker-make")]);
    await download.saveAs(path.join(path.dirname(recording), "page-made.exe"));
    saveTimes.push(Date.now() - saving);
    await page.close();
    const tool = Date.now();
    execFileSync(quira, ["-q", "make", "--force", recording, "-o", path.join(path.dirname(recording), "tool-made.exe")]);
    toolTimes.push(Date.now() - tool);
  }
  await browser.close();
  const p = median(pageTimes), t = median(toolTimes);
  console.log(`page: ${p} ms from the pick to the message ready (32 and 16 kbit/s), then ${median(saveTimes)} ms to save it`);
  console.log(`quira make (32 kbit/s): ${t} ms; ratio page / tool ${(p / t).toFixed(2)} ` +
    `(${(p / 2 / t).toFixed(2)} for one bit rate's share)`);
  const same = fs.readFileSync(path.join(path.dirname(recording), "page-made.exe"))
    .equals(fs.readFileSync(path.join(path.dirname(recording), "tool-made.exe")));
  console.log(`the page's message ${same ? "is" : "is NOT"} byte for byte quira make's`);
}

// The page's renderer: the process whose command line names it, with the most memory.
function rendererKilobytes() {
  let most = 0;
  for (const pid of fs.readdirSync("/proc").filter((d) => /^\d+$/.test(d))) {
    try {
      const cmd = fs.readFileSync(`/proc/${pid}/cmdline`, "latin1");
      if (!cmd.includes("/usr/lib/chromium/chromium") || !cmd.includes("--type=renderer")) continue;
      const rss = /VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, "latin1"));
      if (rss) most = Math.max(most, Number(rss[1]));
    } catch (e) {
      // gone meanwhile
    }
  }
  return most * 1024;
}

// The JavaScript heap of each worker of the page, by the DevTools protocol: {url: used bytes}.
async function workerHeaps(cdp) {
  const {targetInfos} = await cdp.send("Target.getTargets");
  const heaps = [];
  for (const t of targetInfos.filter((x) => x.type === "worker")) {
    const {sessionId} = await cdp.send("Target.attachToTarget", {targetId: t.targetId, flatten: false});
    const answer = new Promise((resolve) => {
      const on = (event) => {
        if (event.sessionId !== sessionId) return;
        const m = JSON.parse(event.message);
        if (m.id === 1) {
          cdp.off("Target.receivedMessageFromTarget", on);
          resolve(m.result ? m.result.usedSize : 0);
        }
      };
      cdp.on("Target.receivedMessageFromTarget", on);
    });
    await cdp.send("Target.sendMessageToTarget", {sessionId, message: JSON.stringify({id: 1, method: "Runtime.getHeapUsage"})});
    heaps.push(await answer);
    await cdp.send("Target.detachFromTarget", {sessionId});
  }
  return heaps;
}

async function memory(speech, minutes) {
  const browser = await launch(["--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream",
    `--use-file-for-fake-audio-capture=${speech}`]);
  const cdp = await browser.newBrowserCDPSession();
  const context = await browser.newContext({acceptDownloads: true});
  const page = await readyPage(context);
  // The maker worker: the page's worker whose module holds the makers.
  const makerWorker = async () => {
    for (const w of page.workers()) {
      if (await w.evaluate(() => typeof making !== "undefined" && Q !== null).catch(() => false)) return w;
    }
    return null;
  };
  const sample = async () => {
    const w = await makerWorker();
    return {
      pageHeap: await page.evaluate(() => performance.memory.usedJSHeapSize),
      wasm: w ? await w.evaluate(() => Q.HEAPU8.length) : 0,
      workerHeaps: (await workerHeaps(cdp)).reduce((a, b) => a + b, 0),
      renderer: rendererKilobytes(),
    };
  };
  await page.waitForTimeout(2000);
  const idle = await sample();
  const peak = {...idle};
  const keep = (s) => { for (const k of Object.keys(peak)) peak[k] = Math.max(peak[k], s[k]); };
  await page.click("#record");
  const end = Date.now() + minutes * 60000;
  while (Date.now() < end) {
    await page.waitForTimeout(5000);
    keep(await sample());
  }
  await page.click("#record-stop");
  await page.waitForFunction(() => !document.getElementById("maker-save").disabled, null, {timeout: 600000});
  keep(await sample());
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#maker-make")]);
  await download.saveAs(path.join(path.dirname(speech), "recorded-long.exe"));
  keep(await sample());
  console.log(`recorded ${await page.textContent("#maker-status")}`);
  console.log(`saved: ${await page.textContent("#maker-made")}`);
  for (const [k, what] of [["pageHeap", "page's JavaScript heap"], ["workerHeaps", "workers' JavaScript heaps"],
                           ["wasm", "maker worker's wasm memory"], ["renderer", "page's process (resident)"]]) {
    console.log(`${what}: idle ${MB(idle[k])}, peak ${MB(peak[k])}, beyond idle ${MB(peak[k] - idle[k])}`);
  }
  await browser.close();
}

(async () => {
  if (mode === "make") await make(rest[0], rest[1]);
  else if (mode === "memory") await memory(rest[0], Number(rest[1] || 10));
  else throw new Error("usage: maker-web.js make PAGE QUIRA RECORDING | memory PAGE SPEECH MINUTES");
})().catch((e) => {
  console.error(e.stack || e);
  process.exit(1);
});
