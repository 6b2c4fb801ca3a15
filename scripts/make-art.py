#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Draws the player's button images and icon and writes them into res/.

    scripts/make-art.py [OUT_DIR]     (default: res/ beside this script)

The images are the pixel maps below, one character per pixel, in the 16-colour palette every
Windows display has. The button images are 20 x 20 at 4 bits per pixel; the resource compiler
stores each one as its header, palette and pixels (344 bytes). The player loads them so that
their light and dark greys follow the system's 3-D colours, which is why the backgrounds are
light grey. The icon is one 32 x 32 16-colour image with its transparency mask.

The output is a pure function of this file: running it again rewrites the committed files
byte for byte, which a test checks.
"""
import os
import struct
import sys

# The standard 16-colour palette, in its usual order (index: red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Pixel map characters and their palette indices. In the icon a space is transparent.
COLOURS = {'k': 0, 'b': 4, '.': 7, 'g': 8, 'B': 12, 'w': 15, ' ': 0}

# Play, shown while stopped: a raised blue triangle.
PLAY = [
    '....................',
    '....................',
    '....................',
    '.......g............',
    '.......gg...........',
    '.......gBg..........',
    '.......gBBg.........',
    '.......gBBBg........',
    '.......gBBBBg.......',
    '.......gBBBBBg......',
    '.......gBBBBBw......',
    '.......gBBBBw.......',
    '.......gBBBw........',
    '.......gBBw.........',
    '.......gBw..........',
    '.......gw...........',
    '.......g............',
    '....................',
    '....................',
    '....................',
]

# Stop: a black square, its edge shaded as if pressed in.
STOP = [
    '....................',
    '....................',
    '....................',
    '....................',
    '....ggggggggggw.....',
    '....gkkkkkkkkkw.....',
    '....gkkkkkkkkkw.....',
    '....gkkkkkkkkkw.....',
    '....gkkkkkkkkkw.....',
    '....gkkkkkkkkkw.....',
    '....gkkkkkkkkkw.....',
    '....gkkkkkkkkkw.....',
    '....gkkkkkkkkkw.....',
    '....gkkkkkkkkkw.....',
    '....wwwwwwwwwww.....',
    '....................',
    '....................',
    '....................',
    '....................',
    '....................',
]

# Play while playing (the button is disabled): the same triangle, grey on white.
PLAYING = [
    'wwwwwwwwwwwwwwwwwwww',
    'wwwwwwwwwwwwwwwwwwww',
    'wwwwwwwwwwwwwwwwwwww',
    'wwwwwwwgwwwwwwwwwwww',
    'wwwwwwwggwwwwwwwwwww',
    'wwwwwwwg.gwwwwwwwwww',
    'wwwwwwwg..gwwwwwwwww',
    'wwwwwwwg...gwwwwwwww',
    'wwwwwwwg....gwwwwwww',
    'wwwwwwwg.....gwwwwww',
    'wwwwwwwg.....gwwwwww',
    'wwwwwwwg....gwwwwwww',
    'wwwwwwwg...gwwwwwwww',
    'wwwwwwwg..gwwwwwwwww',
    'wwwwwwwg.gwwwwwwwwww',
    'wwwwwwwggwwwwwwwwwww',
    'wwwwwwwgwwwwwwwwwwww',
    'wwwwwwwwwwwwwwwwwwww',
    'wwwwwwwwwwwwwwwwwwww',
    'wwwwwwwwwwwwwwwwwwww',
]

# The file's icon: a speech bubble holding a play triangle, with a drop shadow.
ICON = [
    '                                ',
    '                                ',
    '                                ',
    '     kkkkkkkkkkkkkkkkkkkkk      ',
    '   kkwwwwwwwwwwwwwwwwwwwwwkk    ',
    '  kwwwwwwwwwwwwwwwwwwwwwwwwwk   ',
    '  kwwwwwwwwwbwwwwwwwwwwwwwwwkg  ',
    '  kwwwwwwwwwbbbwwwwwwwwwwwwwkg  ',
    '  kwwwwwwwwwbBBbwwwwwwwwwwwwkg  ',
    '  kwwwwwwwwwbBBBbbwwwwwwwwwwkg  ',
    '  kwwwwwwwwwbBBBBBbwwwwwwwwwkg  ',
    '  kwwwwwwwwwbBBBBBBbbwwwwwwwkg  ',
    '  kwwwwwwwwwbBBBBBBBBbwwwwwwkg  ',
    '  kwwwwwwwwwbBBBBBBbbwwwwwwwkg  ',
    '  kwwwwwwwwwbBBBBBbwwwwwwwwwkg  ',
    '  kwwwwwwwwwbBBBbbwwwwwwwwwwkg  ',
    '  kwwwwwwwwwbBBbwwwwwwwwwwwwkg  ',
    '  kwwwwwwwwwbbbwwwwwwwwwwwwwkg  ',
    '  kwwwwwwwwwbwwwwwwwwwwwwwwwkg  ',
    '  kwwwwwwwwwwwwwwwwwwwwwwwwwkg  ',
    '   kkwwwwwwwwwwwwwwwwwwwwwkkgg  ',
    '     kkkkwwwwkkkkkkkkkkkkkggg   ',
    '      ggkwwwkgggggggggggggg     ',
    '       kwwwkgg                  ',
    '       kwwkgg                   ',
    '      kwwkgg                    ',
    '      kwkgg                     ',
    '     kkkgg                      ',
    '      ggg                       ',
    '                                ',
    '                                ',
    '                                ',
]


def palette_bytes():
    # RGBQUAD order: blue, green, red, reserved.
    return b''.join(bytes((b, g, r, 0)) for r, g, b in PALETTE)


def pixel_rows(rows, width):
    """4-bit pixels, bottom row first, each row padded to a multiple of four bytes."""
    stride = (width * 4 + 31) // 32 * 4
    out = b''
    for row in reversed(rows):
        assert len(row) == width, row
        indices = [COLOURS[c] for c in row]
        if width % 2:
            indices.append(0)
        packed = bytes(indices[i] << 4 | indices[i + 1] for i in range(0, len(indices), 2))
        out += packed.ljust(stride, b'\0')
    return out


def mask_rows(rows, width):
    """1-bit transparency mask (set where the map has a space), bottom row first, padded."""
    stride = (width + 31) // 32 * 4
    out = b''
    for row in reversed(rows):
        bits = 0
        for c in row:
            bits = bits << 1 | (c == ' ')
        bits <<= stride * 8 - width
        out += bits.to_bytes(stride, 'big')
    return out


def info_header(width, height, image_bytes, colours_used):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, image_bytes, 0, 0,
                       colours_used, 0)


def bitmap_file(rows):
    width, height = len(rows[0]), len(rows)
    assert height == 20 and width == 20
    pixels = pixel_rows(rows, width)
    body = info_header(width, height, len(pixels), 16) + palette_bytes() + pixels
    assert len(body) == 344
    return struct.pack('<2sIHHI', b'BM', 14 + len(body), 0, 0, 14 + 40 + 64) + body


def icon_file(rows):
    width, height = len(rows[0]), len(rows)
    assert width == 32 and height == 32
    pixels = pixel_rows(rows, width)
    mask = mask_rows(rows, width)
    # An icon image's header counts the colour image and the mask: twice the height.
    header = info_header(width, 2 * height, len(pixels) + len(mask), 0)
    image = header + palette_bytes() + pixels + mask
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', width, height, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'res')
    files = {
        'play.bmp': bitmap_file(PLAY),
        'stop.bmp': bitmap_file(STOP),
        'playing.bmp': bitmap_file(PLAYING),
        'player.ico': icon_file(ICON),
    }
    for name, data in files.items():
        with open(os.path.join(out_dir, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
