#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Puts the web page together as one self-contained HTML file, and the player page of web
messages beside it.

    build-page.py --web DIR --res DIR --header quira.h --loader quira_web.js --wasm quira_web.wasm
                  --player-loader quira_web_player.js --player-wasm quira_web_player.wasm
                  --notices LICENSE THIRD-PARTY.md -o quira.html --player-output quira-player.html

Into the template (web/page.html) go the style sheet, the page's script and the scripts of its
workers and worklets, each bundled from web/'s ES modules (see Bundler), the WebAssembly module
deflated (the browser inflates it: a third of its size) as base64, the player's button images from res/ converted to PNG, and the licence notices as
text (the page's About: the libraries built into the page want their licences to go with it).
The library's constants reach the modules as the module quira-h.js, made here from
include/quira/quira.h. The page's
Content-Security-Policy names the hash of each inline script and style, allows WebAssembly and
workers made from the page's own blobs, and forbids every connection: the page cannot fetch,
send or load anything from anywhere.

The player page (web/player-page.html) is the player's part of the page alone, over a smaller
module without the maker, with an empty slot for a message's payload (tool/output/web_output.h).
The page carries it as a template, to write web messages itself: the parts the page already
holds are named by where they are in it rather than held twice (see Template).
"""
import argparse
import base64
import hashlib
import json
import os
import re
import struct
import sys
import zlib
from html import escape


def bmp_to_png(data):
    """A Windows bitmap of 4 or 8 bits per pixel with a palette, bottom-up, as PNG bytes."""
    if data[:2] != b"BM":
        raise ValueError("not a bitmap")
    pixels_at = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, _, bits = struct.unpack_from("<IiiHH", data, 14)
    if bits not in (4, 8) or width <= 0 or height == 0:
        raise ValueError("only palette bitmaps of 4 or 8 bits are converted")
    colours = struct.unpack_from("<I", data, 46)[0] or (1 << bits)
    palette_at = 14 + header_size
    palette = [data[palette_at + 4 * i: palette_at + 4 * i + 3][::-1] for i in range(colours)]
    stride = ((width * bits + 31) // 32) * 4
    rows = []
    for y in range(abs(height)):
        source_row = abs(height) - 1 - y if height > 0 else y
        row = data[pixels_at + source_row * stride: pixels_at + (source_row + 1) * stride]
        line = bytearray(b"\0")  # filter type: none
        for x in range(width):
            if bits == 8:
                index = row[x]
            else:
                index = (row[x // 2] >> (4 if x % 2 == 0 else 0)) & 15
            line += palette[index]
        rows.append(bytes(line))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def inert(text, what):
    """Text for an inline block: it must not close the element it stands in, nor start an HTML
    comment, which would change how the rest of the element is read."""
    lower = text.lower()
    if "</script" in lower or "</style" in lower or "<!--" in lower:
        sys.exit(f"build-page: {what} holds a closing tag and cannot be inlined")
    return text


def sha256_source(text):
    return "'sha256-" + base64.b64encode(hashlib.sha256(text.encode()).digest()).decode() + "'"


# ---- The library's constants -------------------------------------------------------------

CONSTANTS_MODULE = "quira-h.js"


def header_constants(header):
    """Every numeric constant the library's header names (enumerators written `QUIRA_X = n` and
    `#define QUIRA_X n`), as a module exporting each under its C name: the page states none of
    them itself."""
    text = re.sub(r"/\*.*?\*/", "", header, flags=re.S)
    found = {}
    for name, value in re.findall(r"\b(QUIRA_[A-Z0-9_]+)\s*=\s*(-?(?:0x[0-9A-Fa-f]+|\d+))[uUlL]*\s*[,}\n]", text):
        found[name] = int(value, 0)
    for name, value in re.findall(r"^\s*#\s*define\s+(QUIRA_[A-Z0-9_]+)\s+\(?(-?(?:0x[0-9A-Fa-f]+|\d+))[uUlL]*\)?\s*$",
                                  text, flags=re.M):
        found[name] = int(value, 0)
    if not found:
        sys.exit("build-page: the library's header names no constants")
    lines = ["// The library's constants, taken from its header when the page was built."]
    lines += [f"export const {name} = {value};" for name, value in sorted(found.items())]
    # Each failure status by name (QUIRA_ERR_NOT_CARRIER: "not-carrier"), the name the page's
    # catalogues give its words under.
    names = {value: name[len("QUIRA_ERR_"):].lower().replace("_", "-")
             for name, value in found.items() if name.startswith("QUIRA_ERR_")}
    lines.append(f"export const QUIRA_STATUS_NAMES = {json.dumps(dict(sorted(names.items())))};")
    return "\n".join(lines) + "\n"


CATALOGUES_MODULE = "catalogues.js"
MAKER_KEYS = "maker."  # the words only the new-message view says, which the player page lacks


def catalogues(directory):
    """The page's words in each of its languages (web/i18n/LANG.json), as a module exporting
    them by language: the page's script holds them all, and asks nothing of anywhere. Returns
    the page's module and the player page's, which lacks the maker's words."""
    found = {}
    for name in sorted(os.listdir(directory)):
        if name.endswith(".json"):
            with open(os.path.join(directory, name), encoding="utf-8") as f:
                found[name[:-len(".json")]] = json.load(f)
    if "en" not in found:
        sys.exit(f"build-page: no English catalogue in {directory}")
    player = {language: {k: v for k, v in words.items() if not k.startswith(MAKER_KEYS)} for language, words in found.items()}
    return tuple("// The page's words in each of its languages, from web/i18n.\n"
                 f"export const CATALOGUES = {json.dumps(c, ensure_ascii=False, separators=(',', ':'))};\n"
                 for c in (found, player))


# ---- Bundling the ES modules -------------------------------------------------------------
#
# web/ is written as ES modules that import one another by relative name ("./shared.js"). The
# page must be one file that also works opened from disk, where a browser loads no module from
# anywhere, so each entry point and the modules it imports are put together into one classic
# script: every module becomes a function run once, in the order of their imports, returning its
# exports, and an import becomes a constant taken from them. That is the whole of what this
# bundler understands, and it refuses anything else rather than guess:
#   import {a, b as c} from "./x.js";      import "./x.js";
#   export function f / export async function f / export class C / export const a = ...
# An exported binding is therefore fixed once the module has run (no `export let`).

IMPORT = re.compile(r'^import\s*(?:\{([^}]*)\}\s*from\s*)?"\./([\w.-]+\.js)";[ \t]*$', re.M)
EXPORT = re.compile(r"^export\s+(?:async\s+function\s*\*?|function\s*\*?|class|const)\s+([A-Za-z_$][\w$]*)", re.M)


def module_variable(name):
    return "module_" + re.sub(r"\W", "_", name[:-3])


class Bundler:
    def __init__(self, web, virtual):
        self.web = web
        self.virtual = virtual  # name -> source of modules made here rather than read from web/
        self.parsed = {}

    def source(self, name):
        if name in self.virtual:
            return self.virtual[name]
        path = os.path.join(self.web, name)
        if not os.path.isfile(path):
            sys.exit(f"build-page: no module {name} in {self.web}")
        with open(path, encoding="utf-8") as f:
            return f.read()

    def parse(self, name):
        """The module's imports [(module, [(exported, local)])], exports and body."""
        if name in self.parsed:
            return self.parsed[name]
        text = self.source(name)
        imports = []
        for names, module in IMPORT.findall(text):
            pairs = []
            for item in filter(None, (x.strip() for x in names.split(","))):
                parts = item.split()
                if len(parts) == 1:
                    pairs.append((parts[0], parts[0]))
                elif len(parts) == 3 and parts[1] == "as":
                    pairs.append((parts[0], parts[2]))
                else:
                    sys.exit(f"build-page: {name}: cannot read the import of {item!r}")
            imports.append((module, pairs))
        body = IMPORT.sub("", text)
        exports = EXPORT.findall(body)
        body = re.sub(r"^export\s+", "", body, flags=re.M)
        leftover = re.search(r"^\s*(import|export)\b.*", body, flags=re.M)
        if leftover:
            sys.exit(f"build-page: {name}: {leftover.group(0).strip()!r} is not a form this bundler reads")
        self.parsed[name] = (imports, exports, body)
        return self.parsed[name]

    def order(self, entry):
        """The modules entry needs, each after those it imports."""
        done, visiting, order = set(), [], []

        def visit(name):
            if name in done:
                return
            if name in visiting:
                sys.exit(f"build-page: modules import each other in a circle: {' -> '.join(visiting + [name])}")
            visiting.append(name)
            for module, _ in self.parse(name)[0]:
                visit(module)
            visiting.pop()
            done.add(name)
            order.append(name)

        visit(entry)
        return order

    def bundle(self, entry):
        """One strict script: the modules entry needs, then entry itself."""
        return "".join(self.pieces(entry))

    def pieces(self, entry):
        """The bundle's text in pieces: its opening, each module's, its closing. A module's piece
        is the same whichever entry's bundle it stands in."""
        out = ['(() => {\n"use strict";\n']
        for name in self.order(entry):
            imports, exports, body = self.parse(name)
            lines = []
            for module, pairs in imports:
                have = self.parse(module)[1]
                for exported, _ in pairs:
                    if exported not in have:
                        sys.exit(f"build-page: {name} imports {exported}, which {module} does not export")
                if pairs:
                    taken = ", ".join(e if e == l else f"{e}: {l}" for e, l in pairs)
                    lines.append(f"const {{{taken}}} = {module_variable(module)};")
            returned = "{" + ", ".join(exports) + "}"
            out.append(f"// ---- {name}\nconst {module_variable(name)} = (() => {{\n" + "\n".join(lines) +
                       "\n" + body.strip("\n") + f"\nreturn {returned};\n}})();\n")
        out.append("})();\n")
        return out


# ---- Putting a page together ------------------------------------------------------------

INCLUDE = re.compile(r"@INCLUDE:([\w.-]+\.html)@")
# The web message's slot (tool/output/web_output.h): the payload's base64 goes between its tags.
MESSAGE_SLOT = '<script type="application/octet-stream" id="quira-message"></script>'
LAYOUT_MODULE = "player-page-layout.js"
PLAYER_PAGE_MARK = "\x01player page\x01"  # where the template goes, once the page is put together


# The notices' sections on code the player page does not hold (the maker's libraries and their
# licence, the Windows player), which its About leaves out: Markdown headings, each section
# running to the next heading of its level or above.
PLAYER_PAGE_LEAVES_OUT = ("### libmp3lame", "### libsoxr", "### In the Windows player",
                          "### GNU Library General Public License, version 2")


def sections_kept(text, left_out):
    """The runs of text that stay when the sections whose headings begin with one of left_out go."""
    headings = [(m.start(), len(m.group(1))) for m in re.finditer(r"^(#+) ", text, flags=re.M)]
    runs, kept_from = [], 0
    for prefix in left_out:
        found = [(at, level) for at, level in headings if text.startswith(prefix, at)]
        if len(found) != 1:
            sys.exit(f"build-page: the notices must hold one section {prefix!r}")
    for i, (at, level) in enumerate(headings):
        if not any(text.startswith(prefix, at) for prefix in left_out):
            continue
        end = next((a for a, l in headings[i + 1:] if l <= level), len(text))
        if at > kept_from:
            runs.append(text[kept_from:at])
        kept_from = max(kept_from, end)
    runs.append(text[kept_from:])
    return [run for run in runs if run]


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def included(web, page):
    """The template with each @INCLUDE:x.html@ replaced by web/x.html, less its opening comments."""
    def fragment(match):
        text = read(os.path.join(web, match.group(1)))
        return re.sub(r"^(?:\s*<!--.*?-->)*\s*", "", text, flags=re.S).rstrip("\n")
    return INCLUDE.sub(fragment, page)


def policy_for(script, style):
    return "; ".join([
        "default-src 'none'",
        f"script-src {sha256_source(script)} 'wasm-unsafe-eval' blob: data:",
        "worker-src blob:",
        f"style-src {sha256_source(style)}",
        "img-src data:",
        "connect-src 'none'",
        "media-src 'none'",
        "form-action 'none'",
        "base-uri 'none'",
    ])


def fill(page, parts, what):
    """The template with each place holder replaced, in one pass, so that nothing inlined is
    itself searched for place holders."""
    for key in parts:
        if page.count(key) != 1:
            sys.exit(f"build-page: {what} must hold {key} once")
    pieces = []
    rest = page
    while True:
        at = [(rest.find(k), k) for k in parts if rest.find(k) >= 0]
        if not at:
            pieces.append(rest)
            break
        index, key = min(at)
        pieces.append(rest[:index])
        pieces.append(parts[key])
        rest = rest[index + len(key):]
    return "".join(pieces)


def scripts_of(page, bundler, loader):
    """The template's scripts:
         @SCRIPT:x.js@  the page's own script: x.js and what it imports (one, hashed in the policy)
         @TEXT:x.js@    the same bundled as inert text, for a worklet made from it
         @WORKER:x.js@  inert text too, emscripten's loader (QuiraModule) before the bundle
    as {place holder: text}, and the page's own script."""
    parts = {}
    scripts = []
    for kind, entry in re.findall(r"@(SCRIPT|TEXT|WORKER):([\w.-]+\.js)@", page):
        code = bundler.bundle(entry)
        if kind == "WORKER":
            code = loader + "\n" + code
        parts[f"@{kind}:{entry}@"] = inert(code, entry)
        if kind == "SCRIPT":
            scripts.append(code)
    if len(scripts) != 1:
        sys.exit("build-page: a page must hold one @SCRIPT:...@")
    return parts, scripts[0]


# ---- Template ------------------------------------------------------------------------------
#
# The page holds the player page as JSON (the block quira-player-page): a list whose items are
# its text in order, each either a string or [id, start, end] (or [id, start, end, 1]): the text
# of the page's element of that id (its textContent) from start to end, counted as JavaScript
# counts (UTF-16 code units), and with a 1, written as HTML text (&, < and > escaped). What the
# player page shares with the page as it is (the style) is so named, not copied; the rest is its
# own (its module without the maker and its other scripts, deflated, its markup, its policy) and
# is there as text. web/web-message.js puts it back together.

def utf16(text):
    return len(text.encode("utf-16-le")) // 2


def template(html, shared, sources):
    """html (the player page) as the template's items: shared lists (text, id, escaped), runs of
    html that the page's element id holds (as text, or escaped)."""
    spans = []
    for text, source, escaped in shared:
        written = escape(text, quote=False) if escaped else text
        held = sources[source].find(text)
        # The first place not named already: a module's text may stand in two scripts (a
        # worklet's and the page's).
        at = html.find(written)
        while at >= 0 and any(at < end and at + len(written) > start for start, end, _ in spans):
            at = html.find(written, at + 1)
        if at < 0 or held < 0 or not text:
            sys.exit(f"build-page: the player page and the page do not share a run they should ({source})")
        spans.append((at, at + len(written), [source, utf16(sources[source][:held]),
                                              utf16(sources[source][:held + len(text)])] + ([1] if escaped else [])))
    spans.sort()
    items = []
    done = 0
    for start, end, item in spans:
        if start > done:
            items.append(html[done:start])
        items.append(item)
        done = end
    if done < len(html):
        items.append(html[done:])
    return items


def resolve(items, sources):
    """The text the template's items stand for, as the page's script puts it back together."""
    out = []
    for item in items:
        if isinstance(item, str):
            out.append(item)
            continue
        text = sources[item[0]].encode("utf-16-le")[2 * item[1]:2 * item[2]].decode("utf-16-le")
        out.append(escape(text, quote=False) if len(item) > 3 else text)
    return "".join(out)


def element_texts(html, ids):
    """The textContent the browser gives each element of ids, from the page's source: the raw
    text of a script or style, and a pre's text with its character references read. The page's
    text is such that nothing else changes on the way (no carriage return, no NUL, no newline
    that a pre would drop)."""
    if "\r" in html or "\0" in html:
        sys.exit("build-page: the page holds a carriage return or NUL, which a browser changes")
    texts = {}
    for element, ident in ids:
        match = re.search(rf'<{element}\b[^>]*\bid="{ident}"[^>]*>(.*?)</{element}>', html, flags=re.S)
        if not match:
            sys.exit(f"build-page: no <{element} id={ident}> in the page")
        text = match.group(1)
        if element == "pre":
            if text.startswith("\n") or re.search(r"<|&(?!amp;|lt;|gt;)", text):
                sys.exit(f"build-page: the text of <pre id={ident}> would not read back as written")
            text = text.replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&")
        texts[ident] = text
    return texts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--web", required=True)
    parser.add_argument("--res", required=True)
    parser.add_argument("--header", required=True, help="the library's header, quira.h")
    parser.add_argument("--loader", required=True)
    parser.add_argument("--wasm", required=True)
    parser.add_argument("--player-loader", required=True, help="the player page's module's loader")
    parser.add_argument("--player-wasm", required=True, help="the player page's module, without the maker")
    parser.add_argument("--notices", nargs="+", required=True,
                        help="the licence and third-party notices, shown as text in the pages' About")
    parser.add_argument("-o", "--output", required=True)
    parser.add_argument("--player-output", required=True)
    args = parser.parse_args()

    page = included(args.web, read(os.path.join(args.web, "page.html")))
    # A web message begins with its doctype, by which the library knows one: the template's
    # licence line stays in the template.
    player_page = re.sub(r"^<!--[^\n]*-->\n", "", included(args.web, read(os.path.join(args.web, "player-page.html"))))
    if not player_page.lower().startswith("<!doctype html"):
        sys.exit("build-page: the player page must begin with its doctype")
    style = inert(read(f"{args.web}/page.css"), "page.css")
    loader = read(args.loader)
    player_loader = read(args.player_loader)
    constants = header_constants(read(args.header))
    words, player_words = catalogues(os.path.join(args.web, "i18n"))
    bundler = Bundler(args.web, {CONSTANTS_MODULE: constants, CATALOGUES_MODULE: words})
    # What follows the slot's opening tag in a web message, before the closing comment: the page
    # tells a message's file size from it.
    slot = player_page.find(MESSAGE_SLOT)
    if slot < 0 or player_page.count(MESSAGE_SLOT) != 1:
        sys.exit("build-page: the player page must hold the message's empty slot once")
    slot_tag = MESSAGE_SLOT[:MESSAGE_SLOT.index("</script>")]
    tail = player_page[slot + MESSAGE_SLOT.index("</script>"):]
    if "@" in tail:
        sys.exit("build-page: nothing may be put into the player page after its slot")
    layout = ("// Where the player page holds its message.\n"
              f"export const SLOT_TAIL_BYTES = {len(tail.encode())};\n")
    player_bundler = Bundler(args.web, {CONSTANTS_MODULE: constants, CATALOGUES_MODULE: player_words,
                                        LAYOUT_MODULE: layout})

    def wasm_base64(path, deflate=False):
        with open(path, "rb") as f:
            module = f.read()
        return base64.b64encode(zlib.compress(module, 9) if deflate else module).decode()

    images = {}
    for name in ("play", "stop", "playing"):
        with open(f"{args.res}/{name}.bmp", "rb") as f:
            png = bmp_to_png(f.read())
        images[name] = "data:image/png;base64," + base64.b64encode(png).decode()
    # The notices as text (the About): every licence a person receiving the page is owed.
    notices_text = "\n\n".join(read(path) for path in args.notices)
    player_notices = sections_kept(notices_text, PLAYER_PAGE_LEAVES_OUT)
    common = {
        "@STYLE@": style,
        "@PLAY_PNG@": images["play"],
        "@STOP_PNG@": images["stop"],
        "@PLAYING_PNG@": images["playing"],
    }

    # The player page first: the page carries it. Its module is deflated, and so are its other
    # scripts and its notices, in one block that its first script (unpack.js) inflates: what is
    # packed is the page's script and the text of each element named (see unpack.js).
    player_parts, player_script = scripts_of(player_page, player_bundler, player_loader)
    packed = {
        "script": player_bundler.bundle("player-page.js"),
        "elements": {
            "quira-worker": player_loader + "\n" + player_bundler.bundle("worker.js"),
            "quira-output": player_bundler.bundle("output-worklet.js"),
            "quira-notices": "".join(player_notices),
        },
    }
    for ident in packed["elements"]:
        if not re.search(rf'id="{ident}"></\w+>', player_page):
            sys.exit(f"build-page: the player page must hold an empty element {ident} for what is packed")
    packed_json = json.dumps(packed, ensure_ascii=False, separators=(",", ":")).encode()
    player_parts.update(common)
    player_parts.update({"@POLICY@": policy_for(player_script, style),
                         "@PACKED@": base64.b64encode(zlib.compress(packed_json, 9)).decode(),
                         "@WASM@": wasm_base64(args.player_wasm, deflate=True)})
    player_html = fill(player_page, player_parts, "player-page.html")
    # A writer puts the payload after the slot's opening tag, found as the first of its kind.
    if player_html.count(slot_tag) != 1:
        sys.exit("build-page: the player page holds the slot's opening tag elsewhere too (in a script?)")

    parts, script = scripts_of(page, bundler, loader)
    parts.update(common)
    parts.update({"@POLICY@": policy_for(script, style), "@WASM@": wasm_base64(args.wasm, deflate=True),
                  "@NOTICES@": escape(notices_text, quote=False),
                  "@PLAYER_PAGE@": PLAYER_PAGE_MARK})
    html = fill(page, parts, "page.html")
    sources = element_texts(html, [("style", "quira-style")])
    # What the player page shares with the page, which the template names rather than holds.
    items = template(player_html, [(style, "quira-style", False)], sources)
    if resolve(items, sources) != player_html:
        sys.exit("build-page: the player page's template does not give the player page back")
    # JSON inert in a script block: "<" only ever stands in its strings, and is escaped there.
    carried = json.dumps(items, ensure_ascii=False, separators=(",", ":")).replace("<", "\\u003c")
    mark = f'id="quira-player-page">{PLAYER_PAGE_MARK}</script>'
    if html.count(mark) != 1:
        sys.exit("build-page: page.html must hold the player page's block once")
    html = html.replace(mark, mark.replace(PLAYER_PAGE_MARK, carried), 1)

    for output, text in ((args.player_output, player_html), (args.output, html)):
        temporary = output + ".tmp"
        with open(temporary, "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(temporary, output)


if __name__ == "__main__":
    main()
