#!/usr/bin/env python3
"""Draws the front end's icons as small GIF files.

The XML of the channel tree names images under img/ (tv_fta.gif and the
others). They are drawn here from character maps, so the project carries no
binary artwork: `mkicons.py OUTDIR` writes every icon into OUTDIR.
"""
import os
import struct
import sys

# Palette index per map character; index 0 is transparent.
PALETTE = [
    (255, 255, 255),  # ' ' transparent
    (40, 40, 48),     # '#' outline
    (110, 170, 230),  # 's' screen
    (60, 170, 80),    # 'g' free-to-air mark
    (220, 60, 50),    # 'r' encrypted mark
    (230, 190, 60),   # 'y' folder
    (160, 120, 40),   # 'b' folder edge
    (200, 200, 210),  # 'w' body
]
CHARS = " #sgrybw"

TV = [
    "                ",
    "   #       #    ",
    "    #     #     ",
    "     #   #      ",
    "  ############  ",
    "  #ssssssssss#  ",
    "  #ssssssssss#  ",
    "  #ssssssssss#  ",
    "  #ssssssssss#  ",
    "  #ssssssssss#  ",
    "  #ssssssssss#  ",
    "  ############  ",
    "     #    #     ",
    "    ########    ",
    "                ",
    "                ",
]

RADIO = [
    "                ",
    "            #   ",
    "           #    ",
    "          #     ",
    "  ############  ",
    "  #wwwwwwwwww#  ",
    "  #w###wwwwww#  ",
    "  ##sss#w##ww#  ",
    "  ##sss#wwwww#  ",
    "  ##sss#w##ww#  ",
    "  #w###wwwwww#  ",
    "  #wwwwwwwwww#  ",
    "  ############  ",
    "   #        #   ",
    "                ",
    "                ",
]

FOLDER = [
    "                ",
    "                ",
    " bbbbb          ",
    " byyyyb         ",
    " bbbbbbbbbbbbbb ",
    " byyyyyyyyyyyyb ",
    " byyyyyyyyyyyyb ",
    " byyyyyyyyyyyyb ",
    " byyyyyyyyyyyyb ",
    " byyyyyyyyyyyyb ",
    " byyyyyyyyyyyyb ",
    " byyyyyyyyyyyyb ",
    " bbbbbbbbbbbbbb ",
    "                ",
    "                ",
    "                ",
]

FOLDER_OPEN = [
    "                ",
    "                ",
    " bbbbb          ",
    " byyyyb         ",
    " byyyyybbbbbbb  ",
    " byyyyyyyyyyyb  ",
    " byy bbbbbbbbbbb",
    " byybyyyyyyyyyb ",
    " bybyyyyyyyyyyb ",
    " bybyyyyyyyyyb  ",
    " bbyyyyyyyyyyb  ",
    " bbyyyyyyyyyb   ",
    " bbbbbbbbbbbb   ",
    "                ",
    "                ",
    "                ",
]


def mark(base, colour):
    """The base picture with a 4x4 mark of `colour` in its lower right."""
    rows = [list(r) for r in base]
    for y in range(11, 15):
        for x in range(11, 15):
            rows[y][x] = colour if 11 < y < 14 or 11 < x < 14 else "#"
    return ["".join(r) for r in rows]


def badge(folder, small):
    """A folder with a shrunk copy of `small` (every second pixel) on it."""
    rows = [list(r) for r in folder]
    for y in range(7):
        for x in range(8):
            c = small[2 + 2 * y][2 * x + 1]
            if c != " ":
                rows[6 + y][4 + x] = c
    return ["".join(r) for r in rows]


def lzw_uncompressed(pixels, min_size):
    """LZW data that a decoder reads as the plain pixels: a clear code is
    sent often enough that the code width never grows."""
    clear, eoi = 1 << min_size, (1 << min_size) + 1
    width = min_size + 1
    limit = (1 << width) - 2 - (1 << min_size)
    codes = [clear]
    run = 0
    for p in pixels:
        if run == limit:
            codes.append(clear)
            run = 0
        codes.append(p)
        run += 1
    codes.append(eoi)
    bits, nbits, out = 0, 0, bytearray()
    for c in codes:
        bits |= c << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def gif(rows):
    h, w = len(rows), len(rows[0])
    pixels = [CHARS.index(c) for r in rows for c in r]
    table = b"".join(struct.pack("BBB", *c) for c in PALETTE)
    table += b"\0\0\0" * (8 - len(PALETTE))
    data = lzw_uncompressed(pixels, 3)
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255]
                      for i in range(0, len(data), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", w, h, 0xF2, 0, 0) + table +
            b"\x21\xF9\x04\x01\x00\x00\x00\x00" +  # index 0 is transparent
            b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0) +
            bytes([3]) + blocks + b"\x00" + b"\x3B")


ICONS = {
    "tv_fta.gif": mark(TV, "g"),
    "tv_enc.gif": mark(TV, "r"),
    "radio_fta.gif": mark(RADIO, "g"),
    "radio_enc.gif": mark(RADIO, "r"),
    "all_tv.gif": badge(FOLDER, TV),
    "all_tv_open.gif": badge(FOLDER_OPEN, TV),
    "all_radio.gif": badge(FOLDER, RADIO),
    "all_radio_open.gif": badge(FOLDER_OPEN, RADIO),
    "folder.gif": FOLDER,
    "folder_open.gif": FOLDER_OPEN,
}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: mkicons.py OUTDIR")
    os.makedirs(sys.argv[1], exist_ok=True)
    for name, rows in ICONS.items():
        assert len(rows) == 16 and all(len(r) == 16 for r in rows), name
        with open(os.path.join(sys.argv[1], name), "wb") as f:
            f.write(gif(rows))


if __name__ == "__main__":
    main()
