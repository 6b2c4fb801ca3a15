#!/usr/bin/env python3
"""Puts the web page together as one self-contained HTML file.

    build-page.py --web DIR --res DIR --loader quira_web.js --wasm quira_web.wasm -o quira.html

Into web/page.html go the style sheet, the page's script, the worker's script (emscripten's
loader followed by web/worker.js) and the sound output's script as inert text blocks, the module
as base64, and the player's button images from res/ converted to PNG. The page's
Content-Security-Policy names the hash of each inline script and style, allows WebAssembly and
workers made from the page's own blobs, and forbids every connection: the page cannot fetch,
send or load anything from anywhere.
"""
import argparse
import base64
import hashlib
import os
import struct
import sys
import zlib


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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--web", required=True)
    parser.add_argument("--res", required=True)
    parser.add_argument("--loader", required=True)
    parser.add_argument("--wasm", required=True)
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()

    def read(path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    page = read(f"{args.web}/page.html")
    style = inert(read(f"{args.web}/page.css"), "page.css")
    app = inert(read(f"{args.web}/app.js"), "app.js")
    maker = inert(read(f"{args.web}/maker.js"), "maker.js")
    output = inert(read(f"{args.web}/output.js"), "output.js")
    worker = inert(read(args.loader) + "\n" + read(f"{args.web}/worker.js") + "\n" +
                   read(f"{args.web}/maker-worker.js"), "the worker")
    with open(args.wasm, "rb") as f:
        wasm = base64.b64encode(f.read()).decode()

    # The sound output's code runs in the audio worklet and, where a browser has none, on the
    # page itself: the page's script holds it too.
    script = output + "\n" + app + "\n" + maker
    policy = "; ".join([
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
    images = {}
    for name in ("play", "stop", "playing"):
        with open(f"{args.res}/{name}.bmp", "rb") as f:
            png = bmp_to_png(f.read())
        images[name] = "data:image/png;base64," + base64.b64encode(png).decode()

    parts = {
        "@POLICY@": policy,
        "@STYLE@": style,
        "@SCRIPT@": script,
        "@WORKER@": worker,
        "@OUTPUT@": output,
        "@WASM@": wasm,
        "@PLAY_PNG@": images["play"],
        "@STOP_PNG@": images["stop"],
        "@PLAYING_PNG@": images["playing"],
    }
    for key, value in parts.items():
        if page.count(key) != 1:
            sys.exit(f"build-page: page.html must hold {key} once")
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
