#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Puts the web page together as one self-contained HTML file.

    build-page.py --web DIR --res DIR --header quira.h --loader quira_web.js --wasm quira_web.wasm
                  --notices LICENSE THIRD-PARTY.md [--page page.html] -o quira.html

Into the template (web/page.html) go the style sheet, the page's script and the scripts of its
workers and worklets, each bundled from web/'s ES modules (see Bundler), the WebAssembly module
as base64, the player's button images from res/ converted to PNG, and the licence notices as
text (the page's About: the libraries built into the page want their licences to go with it).
The library's constants reach the modules as the module quira-h.js, made here from
include/quira/quira.h. The page's
Content-Security-Policy names the hash of each inline script and style, allows WebAssembly and
workers made from the page's own blobs, and forbids every connection: the page cannot fetch,
send or load anything from anywhere.
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


def catalogues(directory):
    """The page's words in each of its languages (web/i18n/LANG.json), as a module exporting
    them by language: the page's script holds them all, and asks nothing of anywhere."""
    found = {}
    for name in sorted(os.listdir(directory)):
        if name.endswith(".json"):
            with open(os.path.join(directory, name), encoding="utf-8") as f:
                found[name[:-len(".json")]] = json.load(f)
    if "en" not in found:
        sys.exit(f"build-page: no English catalogue in {directory}")
    return ("// The page's words in each of its languages, from web/i18n.\n"
            f"export const CATALOGUES = {json.dumps(found, ensure_ascii=False, separators=(',', ':'))};\n")


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
        return "".join(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--web", required=True)
    parser.add_argument("--res", required=True)
    parser.add_argument("--header", required=True, help="the library's header, quira.h")
    parser.add_argument("--loader", required=True)
    parser.add_argument("--wasm", required=True)
    parser.add_argument("--page", default="page.html", help="the page's template in --web")
    parser.add_argument("--notices", nargs="+", required=True,
                        help="the licence and third-party notices, shown as text in the page's About")
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()

    def read(path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    page = read(os.path.join(args.web, args.page))
    style = inert(read(f"{args.web}/page.css"), "page.css")
    loader = read(args.loader)
    bundler = Bundler(args.web, {CONSTANTS_MODULE: header_constants(read(args.header)),
                                 CATALOGUES_MODULE: catalogues(os.path.join(args.web, "i18n"))})
    with open(args.wasm, "rb") as f:
        wasm = base64.b64encode(f.read()).decode()

    # The template names what goes where:
    #   @SCRIPT:x.js@  the page's own script: x.js and what it imports (one, hashed in the policy)
    #   @TEXT:x.js@    the same bundled as inert text, for a worklet made from it
    #   @WORKER:x.js@  inert text too, emscripten's loader (QuiraModule) before the bundle
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
        sys.exit("build-page: the page must hold one @SCRIPT:...@")
    policy = "; ".join([
        "default-src 'none'",
        f"script-src {sha256_source(scripts[0])} 'wasm-unsafe-eval' blob: data:",
        "worker-src blob:",
        f"style-src {sha256_source(style)}",
        "img-src data:",
        "connect-src 'none'",
        "media-src 'none'",
        "form-action 'none'",
        "base-uri 'none'",
    ])
    images = {}
    for name in ("play", "stop", "playing"):
        with open(f"{args.res}/{name}.bmp", "rb") as f:
            png = bmp_to_png(f.read())
        images[name] = "data:image/png;base64," + base64.b64encode(png).decode()

    # The notices as text (the page's About): every licence a person receiving the page is owed.
    notices = "\n\n".join(escape(read(path), quote=False) for path in args.notices)

    parts.update({
        "@NOTICES@": notices,
        "@POLICY@": policy,
        "@STYLE@": style,
        "@WASM@": wasm,
        "@PLAY_PNG@": images["play"],
        "@STOP_PNG@": images["stop"],
        "@PLAYING_PNG@": images["playing"],
    })
    for key in parts:
        if page.count(key) != 1:
            sys.exit(f"build-page: {args.page} must hold {key} once")
    # One pass, so that nothing inlined is itself searched for place holders.
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
    html = "".join(pieces)
    temporary = args.output + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(html)
    os.replace(temporary, args.output)


if __name__ == "__main__":
    main()
