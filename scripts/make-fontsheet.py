#!/usr/bin/env python3
"""Builds data/fontsheet.tga, the font sheet built into kivplay, from the glyph
art in data/font/glyphs.txt.

The sheet is an 800 x 600 colour-mapped, run-length encoded TGA 2.0 file:
18-byte header, 256-entry BGR colour map, one packet stream per scan line
(bottom row stored first), a 495-byte extension area, the 600-entry scan-line
table right before the 26-byte footer. Rows 522-529 hold the 95 glyphs in
colour 2 on colour 1, each at its place in the glyph table.

Usage: make-fontsheet.py [--glyphs FILE] [--output FILE]
Standard library only; the output is the same on every run.
"""

import argparse
import os
import struct
import sys

WIDTH, HEIGHT = 800, 600
GLYPH_ROW, GLYPH_HEIGHT, GLYPH_COLUMN_ORIGIN = 522, 8, 10
INK, PAPER, BACKGROUND = 2, 1, 14

# Glyph widths for codes 32 to 126; positions follow from them.
WIDTHS = [int(w) for w in (
    "7 4 6 7 7 8 8 3 4 4 8 7 3 5 3 8 7 7 7 7 7 7 7 7 7 7 3 3 5 5 5 7 7 8 8 6 8 7 7 8 8 "
    "3 7 7 7 11 8 8 8 8 8 8 7 8 7 11 8 8 8 4 8 4 6 5 3 7 7 5 7 7 4 7 7 3 4 7 3 11 7 7 7 "
    "7 5 7 4 7 7 9 8 7 7 5 9 5 6").split()]

# Colour-map entries 0 to 63 (red, green, blue); the program's palette uses them.
COLOURS = [
    (0, 0, 107), (255, 0, 200), (255, 255, 255), (0, 128, 0), (255, 0, 0), (255, 220, 0),
    (0, 232, 0), (160, 160, 170), (190, 190, 210), (210, 210, 230), (230, 230, 250),
    (140, 140, 140), (100, 100, 100), (50, 50, 50), (0, 0, 0), (168, 255, 72),
    (0, 0, 128), (174, 0, 0), (255, 185, 205), (255, 145, 171), (211, 113, 138),
    (222, 173, 151), (197, 142, 116), (164, 117, 97), (255, 224, 162), (237, 188, 94),
    (193, 145, 62), (148, 162, 214), (62, 90, 217), (34, 13, 138), (229, 209, 188),
    (205, 187, 168), (86, 57, 34), (96, 68, 44), (107, 79, 55), (118, 90, 66),
    (129, 101, 77), (140, 112, 88), (151, 123, 99), (162, 134, 110), (172, 146, 121),
    (183, 157, 132), (194, 168, 143), (205, 179, 154), (216, 190, 165), (227, 201, 176),
    (238, 212, 187), (249, 224, 198), (148, 113, 151), (154, 120, 154), (161, 127, 157),
    (168, 135, 160), (174, 142, 163), (181, 149, 166), (188, 157, 169), (195, 164, 172),
    (201, 172, 176), (208, 179, 179), (215, 186, 182), (222, 194, 185), (228, 201, 188),
    (235, 209, 191), (242, 216, 194), (168, 168, 178),
]

SOFTWARE_ID = b"kivplay make-fontsheet"
EXTENSION_SIZE = 495
FOOTER_SIZE = 26


def glyph_positions():
    """x of each glyph from column 10: the space at 0, '!' at 8, then end to end."""
    positions = [0, 8]
    for code in range(33, 126):
        positions.append(positions[-1] + WIDTHS[code - 32])
    return positions


def read_glyphs(path):
    glyphs = {}
    code = None
    rows = []
    with open(path, encoding="ascii") as source:
        for number, raw in enumerate(source, 1):
            line = raw.rstrip("\n")
            if not line or line.startswith(";"):
                continue
            if line.startswith("char "):
                if code is not None:
                    glyphs[code] = rows
                code = int(line.split()[1])
                rows = []
                if not 32 <= code <= 126 or code in glyphs:
                    sys.exit(f"{path}:{number}: bad or repeated character code {code}")
                continue
            if code is None:
                sys.exit(f"{path}:{number}: row before the first 'char' line")
            if set(line) - {"#", "."}:
                sys.exit(f"{path}:{number}: rows hold only '#' and '.'")
            if len(line) != WIDTHS[code - 32]:
                sys.exit(f"{path}:{number}: character {code} is {WIDTHS[code - 32]} wide, "
                         f"row has {len(line)}")
            rows.append(line)
    if code is not None:
        glyphs[code] = rows
    for code in range(32, 127):
        if code not in glyphs:
            sys.exit(f"{path}: character {code} is missing")
        if len(glyphs[code]) != GLYPH_HEIGHT:
            sys.exit(f"{path}: character {code} has {len(glyphs[code])} rows, not {GLYPH_HEIGHT}")
        if code != 32 and not any("#" in row for row in glyphs[code]):
            sys.exit(f"{path}: character {code} has no ink")
    return glyphs


def draw_picture(glyphs):
    picture = [bytearray([BACKGROUND]) * WIDTH for _ in range(HEIGHT)]
    # A band of the brown ramp (entries 32-47) above the glyph strip and one of
    # the mauve ramp (48-62) below it, edged with grey lines.
    for column in range(WIDTH):
        for row in range(504, 512):
            picture[row][column] = 32 + column * 16 // WIDTH
        for row in range(540, 548):
            picture[row][column] = 48 + column * 15 // WIDTH
    for row in (514, 537):
        for column in range(WIDTH):
            picture[row][column] = 7
    positions = glyph_positions()
    strip_end = GLYPH_COLUMN_ORIGIN + positions[-1] + WIDTHS[-1]
    for row in range(GLYPH_ROW, GLYPH_ROW + GLYPH_HEIGHT):
        for column in range(GLYPH_COLUMN_ORIGIN, strip_end):
            picture[row][column] = PAPER
    for code in range(32, 127):
        left = GLYPH_COLUMN_ORIGIN + positions[code - 32]
        for dy, line in enumerate(glyphs[code]):
            for dx, mark in enumerate(line):
                if mark == "#":
                    picture[GLYPH_ROW + dy][left + dx] = INK
    return picture


def encode_line(pixels):
    """TGA run-length packets for one scan line: runs of two or more equal
    pixels as run packets, everything else in raw packets, 128 pixels at most."""
    out = bytearray()
    i, n = 0, len(pixels)
    while i < n:
        run = 1
        while i + run < n and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run >= 2:
            out.append(0x80 | (run - 1))
            out.append(pixels[i])
            i += run
            continue
        start = i
        while i < n and i - start < 128:
            if i + 1 < n and pixels[i + 1] == pixels[i]:
                break
            i += 1
        out.append(i - start - 1)
        out += pixels[start:i]
    return out


def build(glyphs):
    picture = draw_picture(glyphs)
    header = struct.pack("<BBBHHBHHHHBB", 0, 1, 9, 0, 256, 24, 0, 0, WIDTH, HEIGHT, 8, 0)
    colour_map = bytearray()
    for index in range(256):
        if index < len(COLOURS):
            red, green, blue = COLOURS[index]
        else:
            red = green = blue = (index - 64) * 255 // 191
        colour_map += bytes((blue, green, red))
    data = bytearray(header + colour_map)
    table = []
    for stored in range(HEIGHT):  # bottom row first
        table.append(len(data))
        line = encode_line(picture[HEIGHT - 1 - stored])
        assert len(line) <= 2 * WIDTH
        data += line
    extension_offset = len(data)
    table_offset = extension_offset + EXTENSION_SIZE

    extension = bytearray(EXTENSION_SIZE)
    struct.pack_into("<H", extension, 0, EXTENSION_SIZE)
    extension[426:426 + len(SOFTWARE_ID)] = SOFTWARE_ID  # software ID, 41 bytes
    struct.pack_into("<H", extension, 467, 100)           # software version 1.00
    extension[469] = ord(" ")
    struct.pack_into("<I", extension, 490, table_offset)  # scan-line table
    data += extension
    for offset in table:
        data += struct.pack("<I", offset)
    data += struct.pack("<II", extension_offset, 0) + b"TRUEVISION-XFILE.\0"
    assert len(data) == table_offset + 4 * HEIGHT + FOOTER_SIZE
    return bytes(data)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--glyphs", default=os.path.join(root, "data", "font", "glyphs.txt"))
    parser.add_argument("--output", default=os.path.join(root, "data", "fontsheet.tga"))
    args = parser.parse_args()
    sheet = build(read_glyphs(args.glyphs))
    with open(args.output, "wb") as target:
        target.write(sheet)
    print(f"{args.output}: {len(sheet)} bytes")


if __name__ == "__main__":
    main()
