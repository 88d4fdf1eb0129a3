#!/usr/bin/env python3
"""Builds a 32 x 32, 16-colour Windows icon from a text drawing.

Usage: make_icon.py DRAWING OUTPUT.ico

The drawing has "colour LETTER R G B" lines (at most 15 besides the transparent
index) followed by 32 rows of 32 letters, "." meaning transparent. Blank lines and
lines starting with "#" are ignored. Any other shape of input is an error.
"""

import struct
import sys

SIZE = 32
TRANSPARENT = "."


def read_drawing(path):
    palette = {TRANSPARENT: (0, 0, 0)}  # index 0: black under a set mask bit
    rows = []
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split()
            if fields[0] == "colour":
                if rows or len(fields) != 5 or len(fields[1]) != 1 or fields[1] in palette:
                    sys.exit(f"{path}:{number}: bad colour line")
                rgb = tuple(int(v) for v in fields[2:])
                if any(not 0 <= v <= 255 for v in rgb):
                    sys.exit(f"{path}:{number}: colour value out of range")
                palette[fields[1]] = rgb
            else:
                if len(line) != SIZE or any(c not in palette for c in line):
                    sys.exit(f"{path}:{number}: a row needs {SIZE} letters from the palette")
                rows.append(line)
    if len(palette) > 16:
        sys.exit(f"{path}: more than 16 colours")
    if len(rows) != SIZE:
        sys.exit(f"{path}: {len(rows)} rows, want {SIZE}")
    return palette, rows


def icon_bytes(palette, rows):
    letters = list(palette)
    index = {c: i for i, c in enumerate(letters)}
    colours = [palette[c] for c in letters] + [(0, 0, 0)] * (16 - len(letters))

    # Rows are stored bottom-up; the colour bits take two pixels a byte, the mask one bit
    # a pixel; both rows are already 32-bit aligned at this width.
    xor_bits = bytearray()
    and_bits = bytearray()
    for row in reversed(rows):
        for x in range(0, SIZE, 2):
            xor_bits.append(index[row[x]] << 4 | index[row[x + 1]])
        mask = 0
        for c in row:
            mask = mask << 1 | (c == TRANSPARENT)
        and_bits += mask.to_bytes(SIZE // 8, "big")

    # The icon's header counts the colour and the mask halves: twice the width in height.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    image = header + table + bytes(xor_bits) + bytes(and_bits)

    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_icon.py DRAWING OUTPUT.ico")
    palette, rows = read_drawing(sys.argv[1])
    with open(sys.argv[2], "wb") as f:
        f.write(icon_bytes(palette, rows))


if __name__ == "__main__":
    main()
