#!/usr/bin/env python3
"""Writes a small version 949 animation for the end-to-end scripts.

startup_make_kiv.py PATH WIDTH HEIGHT FRAMES RATE [--header-only]

Every picture is one colour: the background palette entry 200, frame i
entry 65 + i % 62, whose screen colour is the grey 4 * (1 + i % 62), so a
screenshot tells which frame is shown. --header-only writes the header and
reserved block alone (it passes the probe and fails the load). --noise
stores each frame as literals of random bytes: a big file that cannot be
compressed, for timing a slow load.
"""
import os
import struct
import sys


def runs(count, value):
    out = bytearray()
    while count > 0:
        length = min(count, 32760)
        out += bytes([length >> 8, length & 0xFF, value])
        count -= length
    return bytes(out)


def literals(count):
    out = bytearray()
    noise = os.urandom(count)
    for start in range(0, count, 127):
        piece = noise[start:start + 127]
        out += bytes([0x80 + len(piece)]) + piece
    return bytes(out)


def chunk(payload):
    return b"FRME" + struct.pack("<I", len(payload)) + payload


def main():
    path, width, height, frames, rate = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
    # magic, reserved, version, rate, first, last, loop start, loop end, width, height, reserved block
    data = b"KIVA" + bytes(4) + struct.pack("<ifIIIIii", 949, rate, 0, frames - 1, 0, frames - 1, width, height)
    data += bytes(6480)
    if "--header-only" not in sys.argv[6:]:
        data += chunk(runs(width * height, 200)) + bytes(4 * frames)  # background, repeat flags all 0
    with open(path, "wb") as out:
        out.write(data)
        if "--header-only" in sys.argv[6:]:
            return
        for i in range(frames):
            picture = literals(width * height) if "--noise" in sys.argv[6:] else runs(width * height, 65 + i % 62)
            out.write(chunk(picture))


main()
