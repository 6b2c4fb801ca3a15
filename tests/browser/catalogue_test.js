// SPDX-License-Identifier: MIT
// The page's catalogues of words (web/i18n/LANG.json), read as the page reads them:
//   - every language the page offers has a catalogue, with every key of the English one and no
//     other, the same placeholders in every sentence, and exactly the plural forms its language
//     has (Intl.PluralRules);
//   - every key the page's scripts and HTML name is in the catalogues, and every key of the
//     catalogues is named by the page, or is the words of an effect, a family or a status of the
//     library: the effects `quira effects` lists (the English descriptions are the library's
//     own) and the statuses its header names;
//   - no sentence is written into the page's scripts or HTML outside the catalogues.
//
//   node catalogue_test.js WEB_DIR QUIRA HEADER
//
// Prints one line per case and the count of passes and failures; exits 1 on any failure.
"use strict";
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const {execFileSync} = require("node:child_process");

const [web, quira, header] = process.argv.slice(2);
if (!header) {
  console.error("usage: catalogue_test.js WEB_DIR QUIRA HEADER");
  process.exit(2);
}

let failures = 0;
let passes = 0;
function check(name, body) {
  try {
    const said = body();
    passes++;
    console.log(`ok   ${name}${said ? `: ${said}` : ""}`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${name}: ${e && e.message ? e.message : e}`);
  }
}

const read = (name) => fs.readFileSync(path.join(web, name), "utf8");
const languages = JSON.parse(read("i18n.js").match(/LANGUAGES = (\[[^\]]*\])/)[1]);
const catalogues = {};
for (const file of fs.readdirSync(path.join(web, "i18n"))) {
  catalogues[file.replace(/\.json$/, "")] = JSON.parse(read(path.join("i18n", file)));
}
const english = catalogues.en;

const placeholders = (s) => [...s.matchAll(/\{(\w+)\}/g)].map((m) => m[1]).sort().join(",");
const forms = (entry) => (typeof entry === "string" ? [entry] : Object.values(entry));

check("a catalogue for every language offered, and none other", () => {
  assert.deepEqual(Object.keys(catalogues).sort(), [...languages].sort());
});

for (const language of languages) {
  const catalogue = catalogues[language];
  check(`${language}: the English keys, the same placeholders, its plural forms`, () => {
    assert.deepEqual(Object.keys(catalogue).sort(), Object.keys(english).sort(), "keys");
    const categories = new Intl.PluralRules(language).resolvedOptions().pluralCategories.sort();
    for (const [key, entry] of Object.entries(catalogue)) {
      const reference = english[key];
      assert.equal(typeof entry, typeof reference, `${key}: a plural where English has none, or none where it has`);
      if (typeof entry === "object") {
        assert.deepEqual(Object.keys(entry).sort(), categories, `${key}: the plural forms of ${language}`);
        assert.ok(placeholders(reference.other).includes("count"), `${key}: a plural is chosen by {count}`);
      }
      const want = placeholders(typeof reference === "string" ? reference : reference.other);
      for (const form of forms(entry)) {
        assert.equal(placeholders(form), want, `${key}: placeholders of ${JSON.stringify(form)}`);
        assert.ok(form.length > 0 && (key === "list.separator" || form.trim() === form), `${key}: empty or padded`);
      }
    }
    return `${Object.keys(catalogue).length} keys`;
  });
}

check("one word for a message, an effect and the warning in each language", () => {
  // The terms a reader meets everywhere must not change from one sentence to the next.
  const terms = {
    de: ["Nachricht", "Effekt"], fr: ["message", "effet"], es: ["mensaje", "efecto"],
    "pt-BR": ["mensagem", "efeito"], it: ["messaggio", "effetto"], ja: ["メッセージ", "エフェクト"],
    "zh-CN": ["消息", "效果"], ar: ["رسالة", "تأثير"],
  };
  for (const [language, [message, effect]] of Object.entries(terms)) {
    const c = catalogues[language];
    for (const key of ["open.region", "facts.heading", "maker.heading", "preview.back"]) {
      assert.ok(c[key].toLowerCase().includes(message.toLowerCase()), `${language} ${key}: "${message}" in ${c[key]}`);
    }
    for (const key of ["facts.effect", "preview.effect", "maker.effect", "preview.back"]) {
      assert.ok(c[key].toLowerCase().includes(effect.toLowerCase()), `${language} ${key}: "${effect}" in ${c[key]}`);
    }
    for (const key of ["warning.headline", "warning.webHeadline"]) {
      assert.ok(/[!！]$/.test(c[key]), `${language}: the warning's headline (${key}) is an exclamation`);
    }
  }
});

// ---- The keys the page names ------------------------------------------------------------------

const sources = fs.readdirSync(web).filter((f) => /\.(js|html)$/.test(f));
const KEY = /^[a-z][A-Za-z]*\.[A-Za-z][\w-]*(\.[a-z]+)?$/;
// The first words of the catalogue's keys: a literal beginning with one of them is a key.
const PREFIXES = new Set(Object.keys(english).map((k) => k.split(".")[0]));

// Every string literal of a script, or every value of a page's data-text attributes, with its
// line.
function literals(name) {
  // Comments are the developers': they are left out, line by line, so that lines keep their count.
  const text = name.endsWith(".html") ? read(name) : read(name).replace(/(^|\s)\/\/.*$/gm, "$1");
  const pattern = name.endsWith(".html") ? /data-text[\w-]*="([^"]*)"/g
    : /"((?:[^"\\\n]|\\.)*)"|`((?:[^`\\]|\\.)*)`|'((?:[^'\\\n]|\\.)*)'/g;
  const lines = text.split("\n");
  return [...text.matchAll(pattern)].map((m) => {
    const line = text.slice(0, m.index).split("\n").length;
    return {value: m[1] ?? m[2] ?? m[3], line, text: lines[line - 1]};
  });
}

const named = new Set();
for (const name of sources) {
  for (const {value} of literals(name)) if (KEY.test(value) && value in english) named.add(value);
}

const effects = execFileSync(quira, ["effects"], {encoding: "utf8"}).trim().split("\n").slice(1)
  .map((line) => line.trim().match(/^(\d+)\s+(\S+)\s+(\S+)\s+(.*)$/)).map((m) => ({name: m[2], family: m[3], sound: m[4]}));
const statuses = [...fs.readFileSync(header, "utf8").matchAll(/\bQUIRA_ERR_([A-Z_]+)\s*=/g)]
  .map((m) => m[1].toLowerCase().replace(/_/g, "-"));

check("the words of every effect, family and status of the library", () => {
  for (const e of effects) {
    assert.ok(`effect.${e.name}.name` in english, `effect.${e.name}.name`);
    assert.equal(english[`effect.${e.name}.about`], e.sound, `effect.${e.name}.about: the library's description`);
    assert.ok(`family.${e.family}` in english, `family.${e.family}`);
  }
  for (const s of statuses) assert.ok(`status.${s}` in english, `status.${s}`);
  return `${effects.length} effects, ${statuses.length} statuses`;
});

check("every key in the catalogues is used, and every key used is there", () => {
  const dynamic = new Set([
    "language.name", "status.unknown",
    ...effects.flatMap((e) => [`effect.${e.name}.name`, `effect.${e.name}.about`, `family.${e.family}`]),
    ...statuses.map((s) => `status.${s}`),
  ]);
  const unused = Object.keys(english).filter((k) => !named.has(k) && !dynamic.has(k));
  assert.deepEqual(unused, [], "keys no script or page names");
  const missing = [];
  for (const name of sources) {
    for (const {value, line} of literals(name)) {
      if (KEY.test(value) && PREFIXES.has(value.split(".")[0]) && !(value in english)) missing.push(`${name}:${line} ${value}`);
    }
  }
  assert.deepEqual(missing, [], "keys named but not in the catalogues");
  return `${named.size} named, ${dynamic.size} from the library`;
});

// ---- No sentence outside the catalogues -------------------------------------------------------

// Literals with words in them that no reader sees.
const FOR_DEVELOPERS = new Set(["use strict", "script processor"]);

check("no sentence written into the page's scripts or HTML", () => {
  const sentences = [];
  for (const name of sources) {
    if (name.endsWith(".html")) {
      const html = read(name).replace(/<(script|style)\b[\s\S]*?<\/\1>/g, "").replace(/<!--[\s\S]*?-->/g, "")
        // What is marked translate="no" (the licence notices) stays as its holders wrote it.
        .replace(/<(\w+)\b[^>]*\btranslate="no"[^>]*>[\s\S]*?<\/\1>/g, "");
      // Words between tags (but the player's own name and build-page.py's place holders), and in
      // the attributes a person reads.
      for (const m of html.matchAll(/>([^<]*\p{L}[^<]*)</gu)) {
        const words = m[1].trim();
        if (words !== "Quira" && !/^@[A-Z_]+(:[\w.-]+)?@$/.test(words)) sentences.push(`${name}: ${JSON.stringify(words)}`);
      }
      for (const m of html.matchAll(/\s(aria-label|aria-valuetext|title|alt|placeholder|label)="([^"]*\p{L}[^"]*)"/gu)) {
        sentences.push(`${name}: ${m[1]}=${JSON.stringify(m[2])}`);
      }
      continue;
    }
    for (const {value, line, text} of literals(name)) {
      // Words: two runs of letters with a space between, outside ${...}, and outside what is
      // for developers (the console, and exceptions, which reach a reader only as a detail).
      if (!/\p{L}{2,},? +\p{L}{2,}/u.test(value.replace(/\$\{[^}]*\}/g, " ")) || FOR_DEVELOPERS.has(value)) continue;
      if (/console\.(warn|error|log)|new Error\(|throw /.test(text)) continue;
      sentences.push(`${name}:${line} ${JSON.stringify(value)}`);
    }
  }
  assert.deepEqual(sentences, []);
});

console.log(`${passes} passed, ${failures} failed`);
process.exit(failures ? 1 : 0);
