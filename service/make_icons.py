#!/usr/bin/env python3
"""Draws the forecast service's weather icons and writes them as GIF files.

Usage: make_icons.py --cpp OUTPUT.cpp [--gif-dir DIR]

Each icon is 49 x 49 pixels with a 16-colour palette, drawn with hard edges on pure black:
black is the program's transparent colour, so the desktop shows around the drawing, and an
anti-aliased edge would leave a dark fringe. Nothing else in a drawing is pure black.
The C++ file holds every GIF as a byte array behind forecast::iconFile; the folder, when
given, gets the same files as day-NAME.gif and night-NAME.gif for a look at them.
Standard library only, the GIF encoder included.
"""

import argparse
import math
import os
import sys

SIZE = 49

PALETTE = [
    (0, 0, 0),        # 0 background: the program's colour key
    (255, 204, 51),   # 1 sun
    (255, 136, 17),   # 2 sun rays
    (240, 242, 247),  # 3 light cloud
    (176, 182, 194),  # 4 cloud edge / grey cloud
    (112, 118, 132),  # 5 dark cloud
    (72, 150, 255),   # 6 rain
    (250, 252, 255),  # 7 snow
    (244, 228, 150),  # 8 moon
    (255, 226, 0),    # 9 lightning
    (196, 198, 204),  # 10 fog
    (255, 250, 205),  # 11 star
    (80, 84, 96),     # 12 dark cloud edge
    (140, 146, 160),  # 13 night cloud
]
while len(PALETTE) < 16:
    PALETTE.append((1, 1, 1))  # unused entries, kept off the colour key

SUN, RAYS, CLOUD, CLOUD_EDGE, DARK, RAIN, SNOW, MOON, BOLT, FOG, STAR, DARK_EDGE, NIGHT_CLOUD = range(1, 14)


class Canvas:
    def __init__(self):
        self.pixels = [[0] * SIZE for _ in range(SIZE)]

    def fill(self, inside, colour):
        """Paints every pixel whose centre satisfies inside(x, y)."""
        for y in range(SIZE):
            for x in range(SIZE):
                if inside(x + 0.5, y + 0.5):
                    self.pixels[y][x] = colour

    def disc(self, cx, cy, r, colour):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)

    def line(self, x0, y0, x1, y1, width, colour):
        def near(x, y):
            dx, dy = x1 - x0, y1 - y0
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
            return math.hypot(x - x0 - t * dx, y - y0 - t * dy) <= width / 2
        self.fill(near, colour)

    def polygon(self, points, colour):
        def inside(x, y):
            hit = False
            for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
                if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                    hit = not hit
            return hit
        self.fill(inside, colour)


def sun(c, cx, cy, r):
    for k in range(8):
        a = k * math.pi / 4
        c.line(cx + (r + 3) * math.cos(a), cy + (r + 3) * math.sin(a),
               cx + (r + 7) * math.cos(a), cy + (r + 7) * math.sin(a), 2.6, RAYS)
    c.disc(cx, cy, r, SUN)


def moon(c, cx, cy, r, stars=True):
    ox, oy, rr = cx + r * 0.55, cy - r * 0.35, r * 0.85
    c.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r and (x - ox) ** 2 + (y - oy) ** 2 > rr * rr, MOON)
    if stars:
        for sx, sy in ((cx + r + 6, cy - r + 2), (cx + r + 12, cy + 4)):
            c.line(sx - 2, sy, sx + 2, sy, 1.2, STAR)
            c.line(sx, sy - 2, sx, sy + 2, 1.2, STAR)


def cloud(c, cx, cy, face, edge):
    """A cloud of about 34 x 20 pixels centred on (cx, cy), drawn with a one-pixel edge."""
    for grow, colour in ((1.2, edge), (0.0, face)):
        c.disc(cx - 9, cy + 2, 6 + grow, colour)
        c.disc(cx - 1, cy - 3, 9 + grow, colour)
        c.disc(cx + 9, cy + 1, 7 + grow, colour)
        c.fill(lambda x, y, g=grow: cx - 9 - g <= x <= cx + 9 + g and cy + 2 <= y <= cy + 8 + g, colour)


def drops(c, spots):
    for x, y in spots:
        c.line(x + 1.5, y, x - 1.5, y + 6, 2.2, RAIN)


def flakes(c, spots):
    for x, y in spots:
        for a in (0, math.pi / 3, 2 * math.pi / 3):
            c.line(x - 3 * math.cos(a), y - 3 * math.sin(a), x + 3 * math.cos(a), y + 3 * math.sin(a), 1.3, SNOW)


def sky_cloud(c, night, dark=False, at=(24, 18)):
    """The cloud of a wet or grey icon; night variants are a shade darker."""
    if dark:
        cloud(c, *at, DARK_EDGE if night else DARK, DARK if night else DARK_EDGE)
    else:
        cloud(c, *at, NIGHT_CLOUD if night else CLOUD, DARK if night else CLOUD_EDGE)


def sun_or_moon(c, night, moon_at, sun_at):
    """The small body behind a cloud or fog: a moon without stars at night, else a sun."""
    if night:
        moon(c, *moon_at, stars=False)
    else:
        sun(c, *sun_at)


def draw(name, night):
    c = Canvas()
    if name == "qing":
        if night:
            moon(c, 20, 25, 13)
        else:
            sun(c, 24.5, 24.5, 11)
    elif name == "duoyun":
        sun_or_moon(c, night, (17, 17, 10), (17, 16, 8))
        sky_cloud(c, night, at=(27, 29))
    elif name == "yin":
        cloud(c, 30, 18, DARK, DARK_EDGE)
        cloud(c, 21, 28, NIGHT_CLOUD if night else CLOUD_EDGE, DARK_EDGE if night else DARK)
    elif name == "wu":
        sun_or_moon(c, night, (24, 14, 9), (24.5, 15, 7))
        for i, y in enumerate((26, 32, 38, 44)):
            inset = 4 + 3 * (i % 2)
            c.line(inset, y, SIZE - 1 - inset, y, 3.2, FOG)
    elif name == "zhenyu":
        sun_or_moon(c, night, (15, 13, 9), (15, 13, 7))
        sky_cloud(c, night)
        drops(c, ((18, 33), (28, 35)))
    elif name == "leizhenyu":
        sky_cloud(c, night, dark=True)
        c.polygon([(27, 26), (19, 38), (25, 38), (21, 48), (32, 34), (26, 34), (31, 26)], BOLT)
        drops(c, ((13, 33), (37, 33)))
    elif name == "xiaoyu":
        sky_cloud(c, night)
        drops(c, ((18, 34), (30, 36)))
    elif name == "zhongyu":
        sky_cloud(c, night)
        drops(c, ((13, 33), (21, 38), (29, 33), (37, 38)))
    elif name == "dayu":
        sky_cloud(c, night, dark=True)
        drops(c, ((11, 32), (18, 39), (25, 32), (32, 39), (39, 32), (22, 43)))
    elif name == "yujiaxue":
        sky_cloud(c, night)
        drops(c, ((14, 33), (30, 37)))
        flakes(c, ((22, 41), (37, 35)))
    elif name == "xiaoxue":
        sky_cloud(c, night)
        flakes(c, ((17, 37), (31, 39)))
    elif name == "daxue":
        sky_cloud(c, night)
        flakes(c, ((12, 35), (24, 37), (36, 35), (18, 44), (30, 44)))
    else:
        raise ValueError(f"no drawing for {name}")
    return c.pixels


ICONS = ["qing", "duoyun", "yin", "wu", "zhenyu", "leizhenyu", "xiaoyu", "zhongyu", "dayu", "yujiaxue",
         "xiaoxue", "daxue"]


def lzw_codes(indices, min_size):
    """Yields (code, width) pairs of the GIF variant of LZW."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    def fresh():
        return {bytes([i]): i for i in range(clear)}, end + 1, min_size + 1
    table, next_code, width = fresh()
    yield clear, width
    current = b""
    for index in indices:
        extended = current + bytes([index])
        if extended in table:
            current = extended
            continue
        yield table[current], width
        if next_code < 4096:
            table[extended] = next_code
            next_code += 1
            # The decoder adds its entries one code later, so it widens when this entry's
            # number, not the next one, reaches the width.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            yield clear, width
            table, next_code, width = fresh()
        current = bytes([index])
    yield table[current], width
    yield end, width


def encode_gif(pixels):
    """A GIF of rows of palette indices; any size, though the icons are all SIZE x SIZE."""
    size = len(pixels[0]).to_bytes(2, "little") + len(pixels).to_bytes(2, "little")
    out = bytearray(b"GIF89a")
    out += size
    out += bytes([0xF3, 0, 0])  # global table of 16 colours, background index 0, square pixels
    for rgb in PALETTE:
        out += bytes(rgb)
    out += b"\x2C" + bytes(4) + size + b"\x00"
    min_size = 4
    data = bytearray()
    bits, count = 0, 0
    for code, width in lzw_codes([p for row in pixels for p in row], min_size):
        bits |= code << count
        count += width
        while count >= 8:
            data.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        data.append(bits & 0xFF)
    out.append(min_size)
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3B"
    return bytes(out)


def write_cpp(path, gifs):
    lines = ["// Generated by service/make_icons.py at build time; edit the script, not this file.",
             '#include "service/icons.h"', "", "#include <cstddef>", "", "namespace forecast {", "namespace {", ""]
    for (name, night), gif in gifs.items():
        lines.append(f"const unsigned char k_{name}_{'night' if night else 'day'}[] = {{")
        for i in range(0, len(gif), 16):
            lines.append("    " + ", ".join(f"0x{b:02X}" for b in gif[i:i + 16]) + ",")
        lines.append("};")
    lines += ["", "struct Entry {", "    const char* name;", "    bool night;", "    const unsigned char* data;",
              "    std::size_t size;", "};", "", "const Entry kEntries[] = {"]
    for (name, night) in gifs:
        array = f"k_{name}_{'night' if night else 'day'}"
        lines.append(f'    {{"{name}", {"true" if night else "false"}, {array}, sizeof {array}}},')
    lines += ["};", "", "}  // namespace", "", "std::string_view iconFile(std::string_view name, bool night) {",
              "    for (const Entry& e : kEntries) {",
              "        if (e.night == night && name == e.name) {",
              "            return std::string_view(reinterpret_cast<const char*>(e.data), e.size);",
              "        }", "    }", "    return {};", "}", "", "}  // namespace forecast", ""]
    with open(path, "w", encoding="ascii") as f:
        f.write("\n".join(lines))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cpp", required=True)
    parser.add_argument("--gif-dir")
    args = parser.parse_args()
    gifs = {(name, night): encode_gif(draw(name, night)) for name in ICONS for night in (False, True)}
    write_cpp(args.cpp, gifs)
    if args.gif_dir:
        os.makedirs(args.gif_dir, exist_ok=True)
        for (name, night), gif in gifs.items():
            with open(os.path.join(args.gif_dir, f"{'night' if night else 'day'}-{name}.gif"), "wb") as f:
                f.write(gif)
    return 0


if __name__ == "__main__":
    sys.exit(main())
