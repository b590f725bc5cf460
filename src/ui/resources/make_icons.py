#!/usr/bin/env python3
"""Draws the program's icons as 16 x 16, 32-bit .ico files from the pixel
grids below, so the artwork can be read and changed as text. Run it from
any folder; it rewrites the .ico files beside itself."""
import os
import struct

PALETTE = {
    ".": None,  # transparent
    "k": (0x20, 0x20, 0x20),  # outline
    "d": (0x58, 0x58, 0x58),  # dark grey
    "m": (0x98, 0x98, 0x98),  # mid grey
    "l": (0xD0, 0xD0, 0xD0),  # light grey
    "w": (0xFF, 0xFF, 0xFF),  # white
    "b": (0x1C, 0x4E, 0xA8),  # deep blue
    "s": (0x3A, 0x86, 0xE0),  # screen blue
    "c": (0xA8, 0xDC, 0xFF),  # screen highlight
    "g": (0x22, 0xB0, 0x3C),  # green
    "y": (0x9C, 0xF0, 0x8C),  # light green
}

# A radar screen: rings, a cross and a sweep that has found one host.
PROGRAM = [
    "................",
    ".....kkkkkk.....",
    "...kkbbbbbbkk...",
    "..kbbbbsbbbbbk..",
    "..kbbsssssbbbk..",
    ".kbbssbsbbsgbbk.",
    ".kbsbbbsbbgybbk.",
    ".kbsbbbsbgbbsbk.",
    ".ksssssyssssssk.",
    ".kbsbbbsbbbbsbk.",
    ".kbbsbbsbbbsbbk.",
    "..kbbsssssbbbk..",
    "..kbbbbsbbbbbk..",
    "...kkbbbbbbkk...",
    ".....kkkkkk.....",
    "................",
]

# A flat-screen monitor on a stand.
MONITOR = [
    "................",
    "kkkkkkkkkkkkkkkk",
    "kllllllllllllllk",
    "klsssssssssssslk",
    "klsccssssssssslk",
    "klscsssssssssslk",
    "klsssssssssssslk",
    "klsssssssssssslk",
    "klsssssssssssslk",
    "klsssssssssssslk",
    "kllllllllllllglk",
    "kkkkkkkkkkkkkkkk",
    "......kddk......",
    "......kmmk......",
    "...kkkkkkkkkk...",
    "...kmmmmmmmmk...",
]

# A desktop computer: a small monitor standing on a flat case.
COMPUTER = [
    "...kkkkkkkkkk...",
    "...kllllllllk...",
    "...klsssssslk...",
    "...klcssssslk...",
    "...klsssssslk...",
    "...klsssssslk...",
    "...kllllllllk...",
    "...kkkkkkkkkk...",
    "......kddk......",
    "kkkkkkkkkkkkkkkk",
    "kllllllllllllllk",
    "klddddddlllgldlk",
    "kllllllllllllllk",
    "kmmmmmmmmmmmmmmk",
    "kkkkkkkkkkkkkkkk",
    "................",
]


def ico(grid):
    assert len(grid) == 16 and all(len(row) == 16 for row in grid), grid
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(grid):  # bottom-up, as bitmaps are stored
        bits = 0
        for x, ch in enumerate(row):
            colour = PALETTE[ch]
            if colour is None:
                pixels += bytes((0, 0, 0, 0))
                bits |= 0x8000 >> x
            else:
                r, g, b = colour
                pixels += bytes((b, g, r, 0xFF))
        mask += struct.pack(">H", bits) + b"\0\0"  # rows padded to 32 bits
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 22)
    return directory + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, grid in (("program", PROGRAM), ("monitor", MONITOR), ("computer", COMPUTER)):
        with open(os.path.join(here, name + ".ico"), "wb") as out:
            out.write(ico(grid))


if __name__ == "__main__":
    main()
