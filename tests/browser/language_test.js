// SPDX-License-Identifier: MIT
// The page in each of its languages, in Debian's chromium, used as a person would:
//   - in the test's pseudo-language, which writes every catalogue's words inside ⟦ ⟧, a file
//     refused, a foreign carrier opened, another effect tried, the WAV saved, a recording made
//     into a message: no text, label or title on the page is left outside the brackets, and
//     going back to a real language leaves none of them behind;
//   - in every language, chosen by the browser's own language (navigator.languages): the player
//     with a foreign carrier's warning and facts, and the new-message view holding a recording,
//     all inside the window at 390 and 1000 px, Arabic mirrored but for the player's dialog and
//     the waveform; screenshots of German, Japanese and Arabic (OUT_DIR/lang-LANG-WIDTH.png), and
//     of the player's save row and the maker's save part in English and German at 390 px
//     (lang-LANG-390-save.png, lang-LANG-390-maker-save.png);
//   - the language picked in the switcher is kept in the page's own storage, over a reload.
//
//   node language_test.js PAGE QUIRA OUT_DIR
//
// The carriers are made by `quira make` from the spoken prompts of alsa-utils; the foreign one
// has one byte of its player changed. Prints one line per case and the count of passes and
// failures; exits 1 on any failure.
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync} = require("node:child_process");
const {SLOW, check, launch, newContext, openPage, finish, unbracketed} = require("./harness");

const [pagePath, quira, out] = process.argv.slice(2);
if (!out) {
  console.error("usage: language_test.js PAGE QUIRA OUT_DIR");
  process.exit(2);
}
fs.mkdirSync(out, {recursive: true});
const PAGE_URL = "file://" + path.resolve(pagePath) + "#test";
const PROMPTS = "/usr/share/sounds/alsa";  // spoken prompts of alsa-utils
const CATALOGUES = path.join(__dirname, "..", "..", "web", "i18n");
const catalogue = (language) => JSON.parse(fs.readFileSync(path.join(CATALOGUES, `${language}.json`), "utf8"));
// Each language as a browser set to it names itself first in navigator.languages.
const LOCALES = {en: "en-GB", de: "de-DE", fr: "fr-FR", es: "es-ES", "pt-BR": "pt-BR", it: "it-IT",
  ja: "ja-JP", "zh-CN": "zh-CN", ar: "ar-EG"};
const SCREENSHOTS = new Set(["de", "ja", "ar"]);
// The player's save row and the maker's save part alone, where their labels are longest, at a
// phone's width.
const SAVE_ROW_SHOTS = new Set(["en", "de"]);

function made(name, source, ...options) {
  const file = path.join(out, name);
  execFileSync(quira, ["-q", "make", source, "-o", file, "--force", ...options]);
  return file;
}

async function pick(page, button, file) {
  const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.click(button)]);
  await chooser.setFiles(file);
}

// Opens the foreign carrier and waits for its facts, the survey of its blocks included.
async function openForeign(page, foreign) {
  await pick(page, "#open", foreign);
  await page.waitForSelector("#warning", {state: "visible", timeout: SLOW});
  await page.waitForFunction(() => document.querySelectorAll("#facts dd").length >= 8 &&
    !document.querySelector('#facts [data-text="facts.formatPending"]'), null, {timeout: SLOW, polling: 100});
}

// Picks a recording in the new-message view and waits until the view holds it.
async function holdRecording(page, recording) {
  await pick(page, "#pick-recording", recording);
  await page.waitForFunction(() => !document.getElementById("maker-save").disabled, null, {timeout: SLOW, polling: 100});
}

// What sticks out of the window at its present width: elements (shown ones) beyond its edges,
// and the page wider than the window.
function overflowing() {
  const width = document.documentElement.clientWidth;
  const found = [];
  if (document.documentElement.scrollWidth > width) found.push(`the page is ${document.documentElement.scrollWidth} px wide`);
  for (const element of document.body.querySelectorAll("*")) {
    const r = element.getBoundingClientRect();
    if (r.width === 0 && r.height === 0) continue;
    if (r.left < -0.5 || r.right > width + 0.5) {
      found.push(`${element.tagName.toLowerCase()}#${element.id}.${element.className} from ${Math.round(r.left)} to ${Math.round(r.right)}`);
    }
  }
  return found;
}

async function pseudoLanguage(browser, carriers) {
  await check("pseudo-language: every text on the page comes from the catalogues", async () => {
    const context = await newContext(browser, {width: 1000, height: 900});
    const page = await openPage(context, PAGE_URL);
    await page.selectOption("#language", "qps");
    const left = [];
    const scan = async (after) => {
      for (const text of await page.evaluate(unbracketed)) left.push(`${after}: ${text}`);
    };
    await scan("loaded");
    await pick(page, "#open", carriers.notes);
    await page.waitForSelector("#notice", {state: "visible", timeout: SLOW});
    await scan("a file refused");
    await openForeign(page, carriers.foreign);
    await scan("a foreign carrier opened");
    await page.selectOption("#effect", "5");
    await page.fill("#level", "-30");
    await scan("another effect tried");
    const [download] = await Promise.all([page.waitForEvent("download", {timeout: SLOW}), page.click("#save-wav")]);
    await download.path();
    await page.waitForFunction(() => document.getElementById("save-note").dataset.text.startsWith("save.saved"), null, {timeout: SLOW});
    await scan("the WAV saved");
    await holdRecording(page, carriers.recording);
    await page.selectOption("#maker-effect", "8");
    await scan("a recording held");
    const [made] = await Promise.all([page.waitForEvent("download", {timeout: SLOW}), page.click("#maker-make")]);
    await made.path();
    await page.waitForFunction(() => document.getElementById("maker-made").textContent !== "", null, {timeout: SLOW});
    await scan("the message made");
    assert.deepEqual(left, [], "text outside the catalogues");
    // Back to a language: everything already written is written again in it.
    await page.selectOption("#language", "de");
    const brackets = await page.evaluate(() => {
      const shown = [...document.body.querySelectorAll("*")].filter((e) => !e.closest("#language, script, style"));
      const text = shown.map((e) => [...e.childNodes].filter((n) => n.nodeType === Node.TEXT_NODE).map((n) => n.data).join("") +
        [...e.attributes].map((a) => a.value).join(" ")).join(" ");
      return text.match(/.{0,40}⟦.{0,40}/g);
    });
    assert.equal(brackets, null, "text left in the pseudo-language after changing to German");
    await context.close();
  });
}

async function everyLanguage(browser, carriers) {
  for (const [language, locale] of Object.entries(LOCALES)) {
    await check(`${language}: chosen from the browser's language; warning, facts and maker fit at 390 and 1000 px`, async () => {
      const words = catalogue(language);
      const context = await newContext(browser, {width: 1000, height: 900}, {locale});
      const page = await openPage(context, PAGE_URL);
      assert.equal(await page.getAttribute("html", "lang"), language, "the browser's language is the page's");
      assert.equal(await page.textContent("h1"), words["page.heading"]);
      await openForeign(page, carriers.foreign);
      assert.equal(await page.textContent("#warning-headline"), words["warning.headline"], "the warning, in the language");
      await holdRecording(page, carriers.recording);
      assert.equal(await page.textContent("#maker-heading"), words["maker.heading"]);
      if (language === "ar") {
        const direction = await page.evaluate(() => ["main", ".dialog", "#wave"].map((s) => getComputedStyle(document.querySelector(s)).direction));
        assert.deepEqual(direction, ["rtl", "ltr", "ltr"], "the page mirrors, the dialog and the waveform do not");
      }
      for (const width of [1000, 390]) {
        await page.setViewportSize({width, height: 900});
        await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
        assert.deepEqual(await page.evaluate(overflowing), [], `at ${width} px`);
        if (SCREENSHOTS.has(language)) await page.screenshot({path: path.join(out, `lang-${language}-${width}.png`), fullPage: true});
        if (width === 390 && SAVE_ROW_SHOTS.has(language)) {
          await page.locator(".downloads").screenshot({path: path.join(out, `lang-${language}-${width}-save.png`)});
          await page.locator("#maker-save").screenshot({path: path.join(out, `lang-${language}-${width}-maker-save.png`)});
        }
      }
      await context.close();
    });
  }
}

async function remembered(browser) {
  await check("the language picked is kept in the page's own storage, over a reload", async () => {
    const context = await newContext(browser, {width: 1000, height: 900}, {locale: "de-DE"});
    const page = await openPage(context, PAGE_URL);
    assert.equal(await page.getAttribute("html", "lang"), "de");
    await page.selectOption("#language", "ja");
    assert.equal(await page.textContent("h1"), catalogue("ja")["page.heading"]);
    await page.reload();
    assert.equal(await page.getAttribute("html", "lang"), "ja");
    assert.equal(await page.inputValue("#language"), "ja");
    await context.close();
  });
}

async function main() {
  const carriers = {
    notes: path.join(out, "notes.txt"),
    foreign: path.join(out, "foreign.exe"),
    recording: `${PROMPTS}/Front_Left.wav`,
  };
  fs.writeFileSync(carriers.notes, "Not a message: a few words of text.\n");
  // A carrier whose front part is not our player: one byte of the program changed.
  const bytes = fs.readFileSync(made("foreign-source.exe", `${PROMPTS}/Rear_Center.wav`, "--effect", "chorus"));
  bytes[0x200] ^= 0x55;
  fs.writeFileSync(carriers.foreign, bytes);

  const browser = await launch();
  await pseudoLanguage(browser, carriers);
  await everyLanguage(browser, carriers);
  await remembered(browser);
  await browser.close();
  await finish();
}

main().catch((e) => {
  console.log(`FAIL ${e.stack || e}`);
  process.exit(1);
});
