// SPDX-License-Identifier: MIT
// The page's words in its reader's language. Every sentence, label, title and screen-reader
// text the page shows comes from one catalogue per language (web/i18n/LANG.json, English the
// reference), by key, with placeholders ({name}) for numbers, names and phrases, and plural
// forms chosen by Intl.PluralRules from the placeholder `count`. Numbers are written with
// Intl.NumberFormat in the language shown.
//
// An element is given its words by key (say, sayAttribute, or data-text / data-text-ATTR in the
// page's HTML) rather than as a string, so that a change of language rewrites everything on the
// page, the sentences already shown included. A phrase put into a sentence (words) stays a key
// with its placeholders until it is written, for the same reason.
//
// The language: the one picked in the page's switcher, kept in the page's own localStorage and
// nowhere else, or else the first of navigator.languages the page has, or else English. Arabic
// is written right to left: the page mirrors, except what carries dir="ltr" (the player's
// dialog and the waveform keep their direction).
//
// With #test in the address a tenth language, "qps", writes the English words each inside
// ⟦ ⟧, so that the browser test can find any text on the page that did not come from here.
import {CATALOGUES} from "./catalogues.js";
import {testing} from "./testing.js";

export const LANGUAGES = ["en", "de", "fr", "es", "pt-BR", "it", "ja", "zh-CN", "ar"];
const RIGHT_TO_LEFT = new Set(["ar"]);
const PSEUDO = "qps";
const STORAGE_KEY = "quira.language";
const TEXT_ATTRIBUTE = "data-text";
const PARAMS = Symbol("textParams");  // an element's placeholders, by attribute ("" its text)

let current = "en";
let pluralRules = new Intl.PluralRules("en");
let formats = new Map();  // NumberFormat by options, for the language shown
const listeners = [];

export const language = () => current;

// A phrase to put into a sentence, written in the language shown when the sentence is.
export const words = (key, params) => ({key, params});

// A number written with exactly `fraction` digits after the point ("4.0"), or with at least
// `integer` digits ("05").
export const fixed = (value, fraction) => ({value, options: {minimumFractionDigits: fraction, maximumFractionDigits: fraction}});
export const padded = (value, integer) => ({value, options: {minimumIntegerDigits: integer, useGrouping: false}});

function numberFormat(options) {
  const key = JSON.stringify(options || {});
  if (!formats.has(key)) formats.set(key, new Intl.NumberFormat(current === PSEUDO ? "en" : current, options));
  return formats.get(key);
}

// A number as the language writes it: "1,234" in English, "1.234" in German.
export const number = (n) => numberFormat().format(n);

function written(value) {
  if (typeof value === "number") return number(value);
  if (value && typeof value === "object") {
    if ("key" in value) return text(value.key, value.params);
    if ("value" in value) return numberFormat(value.options).format(value.value);
  }
  // A name (a file's, an error's) in a right-to-left sentence keeps its own direction, and the
  // sentence's punctuation stays outside it: a first-strong isolate around it.
  return RIGHT_TO_LEFT.has(current) ? `\u2068${value}\u2069` : String(value);
}

// The sentence key says, in the language shown, with its placeholders filled in.
export function text(key, params = {}) {
  const catalogue = CATALOGUES[current] || CATALOGUES.en;
  let entry = key in catalogue ? catalogue[key] : CATALOGUES.en[key];
  if (entry === undefined) {
    if (testing) console.error(`no text for ${key}`);
    return key;
  }
  if (typeof entry === "object") {
    const count = typeof params.count === "object" ? params.count.value : params.count;
    entry = entry[pluralRules.select(count)] ?? entry.other;
  }
  const out = entry.replace(/\{(\w+)\}/g, (_, name) => (name in params ? written(params[name]) : `{${name}}`));
  return current === PSEUDO ? `⟦${out}⟧` : out;
}

// Gives element the words of key (none: no text), now and after every change of language.
export function say(element, key, params) {
  sayAttribute(element, "", key, params);
}

// The same for one of element's attributes (aria-label, title, aria-valuetext, label).
export function sayAttribute(element, attribute, key, params) {
  const marker = attribute ? `${TEXT_ATTRIBUTE}-${attribute}` : TEXT_ATTRIBUTE;
  if (!element[PARAMS]) element[PARAMS] = {};
  if (key == null) {
    element.removeAttribute(marker);
    delete element[PARAMS][attribute];
    if (attribute) element.removeAttribute(attribute);
    else element.textContent = "";
    return;
  }
  element.setAttribute(marker, key);
  element[PARAMS][attribute] = params;
  write(element, attribute, key, params);
}

function write(element, attribute, key, params) {
  const words = text(key, params || {});
  if (!attribute) {
    if (element.textContent !== words) element.textContent = words;
  } else if (element.getAttribute(attribute) !== words) {
    element.setAttribute(attribute, words);
  }
}

// Rewrites every element that was given words, in the language shown.
function rewrite(root) {
  for (const element of root.querySelectorAll("*")) {
    for (const {name, value} of [...element.attributes]) {
      if (name !== TEXT_ATTRIBUTE && !name.startsWith(`${TEXT_ATTRIBUTE}-`)) continue;
      const attribute = name.slice(TEXT_ATTRIBUTE.length + 1);
      write(element, attribute, value, element[PARAMS] && element[PARAMS][attribute]);
    }
  }
}

// Calls back after every change of language, for what the page writes otherwise (a canvas).
export function onLanguage(callback) {
  listeners.push(callback);
}

// The catalogue's language for a tag of navigator.languages: itself, or the one of the same
// language ("de-AT" reads German, "pt-PT" Brazilian Portuguese, "zh-TW" Simplified Chinese).
function matching(tag) {
  const lower = String(tag).toLowerCase();
  const exact = LANGUAGES.find((l) => l.toLowerCase() === lower);
  if (exact) return exact;
  const primary = lower.split("-")[0];
  return LANGUAGES.find((l) => l.toLowerCase().split("-")[0] === primary) || null;
}

function available(code) {
  return LANGUAGES.includes(code) || (testing && code === PSEUDO);
}

function stored() {
  try {
    return localStorage.getItem(STORAGE_KEY);
  } catch (e) {
    return null;  // storage refused (a private window, a sandbox): the choice lasts the visit
  }
}

function store(code) {
  try {
    localStorage.setItem(STORAGE_KEY, code);
  } catch (e) {
    // Kept for this visit only.
  }
}

// The language the page opens in.
function chosen() {
  const saved = stored();
  if (saved && available(saved)) return saved;
  for (const tag of navigator.languages || [navigator.language]) {
    const found = matching(tag);
    if (found) return found;
  }
  return "en";
}

// Shows the page in code and remembers the choice when the reader made it.
export function setLanguage(code, remember = true) {
  if (!available(code)) return;
  if (remember) store(code);
  current = code;
  pluralRules = new Intl.PluralRules(code === PSEUDO ? "en" : code);
  formats = new Map();
  const root = document.documentElement;
  root.lang = code === PSEUDO ? "en" : code;
  root.dir = RIGHT_TO_LEFT.has(code) ? "rtl" : "ltr";
  rewrite(document);
  const switcher = document.getElementById("language");
  if (switcher) switcher.value = code;
  for (const callback of listeners) callback(code);
}

// The switcher: each language by its own name, marked as that language for screen readers.
function fillSwitcher(switcher) {
  const codes = testing ? [...LANGUAGES, PSEUDO] : LANGUAGES;
  for (const code of codes) {
    const option = document.createElement("option");
    option.value = code;
    option.textContent = code === PSEUDO ? "⟦qps⟧" : CATALOGUES[code]["language.name"];
    option.lang = code === PSEUDO ? "en" : code;
    option.translate = false;
    switcher.append(option);
  }
  switcher.addEventListener("change", () => setLanguage(switcher.value));
}

const switcher = typeof document !== "undefined" && document.getElementById("language");
if (switcher) fillSwitcher(switcher);
if (typeof document !== "undefined") {
  if (CATALOGUES[PSEUDO] === undefined) CATALOGUES[PSEUDO] = CATALOGUES.en;
  setLanguage(chosen(), false);
}
