// SPDX-License-Identifier: MIT
// The three browser engines Debian ships, behind one small interface, so that a test is written
// once and run in each: Chromium (Debian's chromium, driven by playwright-core), Firefox
// (Debian's firefox-esr, driven by puppeteer-core over WebDriver BiDi) and WebKit (WebKitGTK's
// MiniBrowser, driven by WebKitWebDriver over plain W3C WebDriver, on a virtual display). None of
// them downloads a browser: the npm packages come from NODE_PATH (scripts/setup-browser.sh).
//
//   const browser = await launch("firefox", {dir, sound});
//   const tab = await browser.open(url);
//   await tab.click("#play"); await tab.waitFor(() => ..., arg); const v = await tab.eval(fn, arg);
//
// sound is a PulseAudio server (services.js) or null: a browser started without one has no
// sound device. Each tab keeps the errors its page throws (tab.errors()). Downloads go to
// dir/downloads; tab.download(selector) clicks and returns the file saved, its name and bytes.
"use strict";
const fs = require("node:fs");
const path = require("node:path");
const {spawn} = require("node:child_process");
const {startDisplay, sleep, until, started} = require("./services");

function need(name) {
  try {
    return require(name);
  } catch (e) {
    console.error(`${name} is not installed: run scripts/setup-browser.sh`);
    process.exit(1);
  }
}

const SLOW = 60000;

// A function and its argument as a script an engine's evaluate runs.
const invocation = (fn, arg) => `(${fn.toString()})(${arg === undefined ? "" : JSON.stringify(arg)})`;

// Errors thrown in the page, kept from the moment the tab is set up (engines without events).
const KEEP_ERRORS = `(() => {
  if (window.quiraErrors) return;
  window.quiraErrors = [];
  addEventListener("error", (e) => window.quiraErrors.push(String(e.message)));
  addEventListener("unhandledrejection", (e) => window.quiraErrors.push(String(e.reason)));
})()`;

// The size of file, or -1 when it is gone: a browser renames its temporary files as it goes,
// between a listing of the directory and a look at one of them.
function sizeOf(file) {
  try {
    return fs.statSync(file).size;
  } catch (error) {
    if (error.code === "ENOENT") return -1;
    throw error;
  }
}

// The file the browser saves next in downloads: the one new, complete (no partial file of the
// same name beside it) and no longer growing.
async function nextDownload(downloads, before, what) {
  let last = "";
  const end = Date.now() + SLOW;
  for (;;) {
    const names = fs.readdirSync(downloads).filter((n) => !before.has(n));
    const done = names.filter((n) => !/\.(part|download|wkdownload)$/.test(n) && !names.some((m) => m.startsWith(n + ".")));
    // One download at a time: while any partial file stands, the browser is still at it (Firefox
    // writes a partial file of a name of its own, then renames it, at times by way of a third).
    const busy = names.some((n) => /\.(part|download|wkdownload)$/.test(n));
    if (done.length === 1 && !busy) {
      const file = path.join(downloads, done[0]);
      const key = `${done[0]}:${sizeOf(file)}`;
      if (key === last && sizeOf(file) > 0) {
        try {
          return {name: done[0], file, bytes: fs.readFileSync(file)};
        } catch (error) {
          if (error.code !== "ENOENT") throw error;
        }
      }
      last = key;
    }
    if (Date.now() > end) throw new Error(`${what}: no download within ${SLOW / 1000} s (${names.join(", ")})`);
    await sleep(200);
  }
}

// Downloads made by clicking: the directory emptied (a browser would not save a name twice),
// the click, the new file.
async function downloadByClick(tab, downloads, selector) {
  for (const name of fs.readdirSync(downloads)) fs.rmSync(path.join(downloads, name), {recursive: true, force: true});
  const before = new Set();
  await tab.click(selector);
  return nextDownload(downloads, before, selector);
}

// A tab over a playwright or puppeteer page, which share these calls; own holds what differs.
async function pageTab(page, url, own) {
  const errors = [];
  page.on("pageerror", (e) => errors.push(e.message));
  await page.goto(url);
  return {
    page,
    errors: async () => errors,
    click: (selector) => page.click(selector),
    press: (key) => page.keyboard.press(key === " " ? "Space" : key),
    // Functions, not strings: playwright runs a string through eval, which the page's policy forbids.
    eval: (fn, arg) => page.evaluate(fn, arg),
    raw: (source) => page.evaluate(source),
    screenshot: (file) => page.screenshot({path: file}),
    close: () => page.close(),
    ...own,
  };
}

// ---- Chromium: playwright-core --------------------------------------------------------------

async function chromium(options) {
  const {chromium: engine} = need("playwright-core");
  const env = {...process.env, ...(options.sound ? options.sound.env : {PULSE_SERVER: "unix:/nonexistent"})};
  const browser = await engine.launch({executablePath: "/usr/bin/chromium", headless: true, env,
    args: ["--autoplay-policy=no-user-gesture-required", "--no-sandbox", ...(options.args || [])]});
  const context = await browser.newContext({acceptDownloads: true, viewport: options.viewport || {width: 900, height: 1000},
    ...(options.context || {})});
  return {
    name: "chromium",
    version: browser.version(),
    async open(url) {
      const page = await context.newPage();
      return pageTab(page, url, {
        async chooseFile(button, input, file) {
          const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.click(button)]);
          await chooser.setFiles(file);
        },
        select: (selector, value) => page.selectOption(selector, value),
        fill: (selector, text) => page.fill(selector, text),
        waitFor: async (fn, arg, ms = SLOW) => (await page.waitForFunction(fn, arg, {timeout: ms, polling: 100})).jsonValue(),
        async download(selector) {
          const [saved] = await Promise.all([page.waitForEvent("download"), page.click(selector)]);
          const file = path.join(options.dir, "downloads", saved.suggestedFilename());
          await saved.saveAs(file);
          return {name: saved.suggestedFilename(), file, bytes: fs.readFileSync(file)};
        },
      });
    },
    close: () => browser.close(),
  };
}

// ---- Firefox: puppeteer-core over WebDriver BiDi ----------------------------------------------

async function firefox(options) {
  const puppeteer = need("puppeteer-core");
  const downloads = path.join(options.dir, "downloads");
  const env = {...process.env, ...(options.sound ? options.sound.env : {PULSE_SERVER: "unix:/nonexistent"})};
  const browser = await puppeteer.launch({
    browser: "firefox", protocol: "webDriverBiDi", executablePath: "/usr/bin/firefox-esr", headless: true, env,
    defaultViewport: options.viewport || {width: 900, height: 1000},
    extraPrefsFirefox: {
      "media.autoplay.default": 0,                  // sound without a click, as Chromium is told
      "media.autoplay.block-webaudio": false,
      "media.navigator.permission.disabled": true,  // the microphone without asking
      "browser.download.dir": downloads,
      "browser.download.folderList": 2,
      "browser.download.useDownloadDir": true,
      "browser.download.always_ask_before_handling_new_types": false,
      "browser.download.start_downloads_in_tmp_dir": false,
    },
  });
  return {
    name: "firefox",
    version: await browser.version(),
    async open(url) {
      const page = await browser.newPage();
      const tab = await pageTab(page, url, {
        async chooseFile(button, input, file) {
          const [chooser] = await Promise.all([page.waitForFileChooser({timeout: SLOW}), page.click(button)]);
          await chooser.accept([file]);
        },
        select: (selector, value) => page.select(selector, value),
        async fill(selector, text) {
          await page.$eval(selector, (e) => { e.value = ""; });
          await page.type(selector, text);
        },
        waitFor: async (fn, arg, ms = SLOW) => (await page.waitForFunction(fn, {timeout: ms, polling: 100}, arg)).jsonValue(),
        download: (selector) => downloadByClick(tab, downloads, selector),
      });
      return tab;
    },
    close: () => browser.close(),
  };
}

// ---- WebKit: WebKitWebDriver, plain W3C WebDriver over HTTP -------------------------------------

const ELEMENT = "element-6066-11e4-a52f-4a5c-a5c9-63fa25e24dd0";
const KEYS = {" ": " ", Enter: "\uE007", Tab: "\uE004", Escape: "\uE00C", ArrowLeft: "\uE012", ArrowRight: "\uE014", Home: "\uE011"};

async function webkit(options) {
  const display = await startDisplay();
  // Downloads go where the desktop's download directory is: a home of the test's own.
  const home = path.join(options.dir, "webkit-home");
  const downloads = path.join(options.dir, "downloads");
  fs.mkdirSync(path.join(home, ".config"), {recursive: true});
  fs.writeFileSync(path.join(home, ".config", "user-dirs.dirs"), `XDG_DOWNLOAD_DIR="${downloads}"\n`);
  const port = 20000 + (process.pid % 20000);
  const env = {...process.env, DISPLAY: display.display, HOME: home, XDG_CONFIG_HOME: path.join(home, ".config"),
    ...(options.sound ? options.sound.env : {PULSE_SERVER: "unix:/nonexistent"})};
  const log = fs.openSync(path.join(options.dir, "webkit.log"), "w");
  const driver = spawn("WebKitWebDriver", [`--port=${port}`], {env, stdio: ["ignore", log, log]});
  started.push(driver);
  const base = `http://127.0.0.1:${port}`;
  async function call(method, where, body) {
    const response = await fetch(base + where, {method, headers: {"content-type": "application/json; charset=utf-8"},
      body: body === undefined ? undefined : JSON.stringify(body)});
    const answer = await response.json();
    if (answer.value && answer.value.error) throw new Error(`WebDriver ${method} ${where}: ${answer.value.error}: ${answer.value.message}`);
    return answer.value;
  }
  await until("WebKitWebDriver", () => {
    if (driver.exitCode !== null) throw new Error("WebKitWebDriver exited");
    return true;
  });
  let session = null;
  for (let i = 0; i < 100 && !session; i++) {
    try {
      session = await call("POST", "/session", {capabilities: {alwaysMatch: {"webkitgtk:browserOptions": {
        binary: "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser", args: ["--automation"]}}}});
    } catch (e) {
      if (!/fetch failed|ECONNREFUSED/.test(String(e.cause || e))) throw e;
      await sleep(100);
    }
  }
  const id = session.sessionId;
  const at = (where) => `/session/${id}${where}`;
  const viewport = options.viewport || {width: 900, height: 1000};
  return {
    name: "webkit",
    version: session.capabilities.browserVersion,
    async open(url) {
      // One window: each page opened replaces the last.
      await call("POST", at("/window/rect"), {width: viewport.width, height: viewport.height + 80});
      await call("POST", at("/url"), {url});
      const run = (script, args = []) => call("POST", at("/execute/sync"), {script, args});
      await run(`${KEEP_ERRORS}; return true;`);
      const find = async (selector) => {
        const found = await call("POST", at("/element"), {using: "css selector", value: selector});
        return found[ELEMENT] || Object.values(found)[0];
      };
      const tab = {
        errors: () => run("return window.quiraErrors || [];"),
        async click(selector) {
          await call("POST", at(`/element/${await find(selector)}/click`), {});
        },
        async press(key) {
          const value = KEYS[key] || key;
          await call("POST", at("/actions"), {actions: [{type: "key", id: "keyboard", actions: [
            {type: "keyDown", value}, {type: "keyUp", value}]}]});
          await call("DELETE", at("/actions"));
        },
        // WebDriver sets the file input's files, as the chooser would (it opens no dialog).
        async chooseFile(button, input, file) {
          await call("POST", at(`/element/${await find(input)}/value`), {text: file});
        },
        async select(selector, value) {
          await call("POST", at(`/element/${await find(`${selector} option[value="${value}"]`)}/click`), {});
        },
        async fill(selector, text) {
          const element = await find(selector);
          await call("POST", at(`/element/${element}/clear`), {});
          await call("POST", at(`/element/${element}/value`), {text});
        },
        eval: (fn, arg) => run(`return ${invocation(fn, arg)};`),
        raw: (source) => run(`${source}\n;return true;`),
        async waitFor(fn, arg, ms = SLOW) {
          const end = Date.now() + ms;
          for (;;) {
            const value = await run(`return ${invocation(fn, arg)};`);
            if (value) return value;
            if (Date.now() > end) throw new Error(`timed out after ${ms} ms waiting for ${fn.toString().slice(0, 200)}`);
            await sleep(100);
          }
        },
        async screenshot(file) {
          fs.writeFileSync(file, Buffer.from(await call("GET", at("/screenshot")), "base64"));
        },
        download(selector) {
          return downloadByClick(tab, downloads, selector);
        },
        async close() {
          await call("POST", at("/url"), {url: "about:blank"});
        },
      };
      return tab;
    },
    async close() {
      await call("DELETE", at("")).catch(() => {});
      driver.kill();
      display.stop();
    },
  };
}

// The engine by name, with options {dir (downloads and logs), sound (services.startSound or
// null), viewport, args (chromium), context (playwright context options)}.
async function launch(name, options) {
  fs.mkdirSync(path.join(options.dir, "downloads"), {recursive: true});
  const engines = {chromium, firefox, webkit};
  if (!engines[name]) throw new Error(`no engine ${name}: chromium, firefox or webkit`);
  return engines[name](options);
}

module.exports = {launch, SLOW};
