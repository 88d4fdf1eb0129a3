#!/usr/bin/env python3
"""The weather icons as an independent decoder sees them: every GIF that the build wrote is
decoded by ImageMagick and compared pixel for pixel with the drawing it was encoded from.

Usage: icons_test.py SERVICE_SOURCE_DIR GIF_DIR (exit 77 when ImageMagick is missing)
"""

import os
import random
import shutil
import subprocess
import sys

source_dir, gif_dir = sys.argv[1], sys.argv[2]
sys.path.insert(0, source_dir)
import make_icons  # noqa: E402

if not shutil.which("convert"):
    print("ImageMagick's convert is missing; skipping")
    sys.exit(77)

failures = []
for name in make_icons.ICONS:
    variants = {}
    for night in (False, True):
        path = os.path.join(gif_dir, f"{'night' if night else 'day'}-{name}.gif")
        decoded = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True,
                                 timeout=30).stdout
        drawing = make_icons.draw(name, night)
        expected = b"".join(bytes(make_icons.PALETTE[i]) for row in drawing for i in row)
        ink = sum(1 for row in drawing for i in row if i)
        if decoded != expected:
            failures.append(f"{path}: decodes to other pixels than drawn")
        if any(i and make_icons.PALETTE[i] == (0, 0, 0) for row in drawing for i in row):
            failures.append(f"{path}: pure black inside the drawing would show the desktop through it")
        if decoded[:3] != b"\0\0\0" or not 0.1 < ink / make_icons.SIZE ** 2 < 0.7:
            failures.append(f"{path}: want a drawing on a black background")
        variants[night] = decoded
    if variants[False] == variants[True]:
        failures.append(f"{name}: the night variant equals the day one")

# The encoder's widest codes and its table resets, which the small icons never reach.
dice = random.Random(9)
noise = [[dice.randrange(16) for x in range(300)] for y in range(200)]
path = os.path.join(gif_dir, "noise-test.gif")
with open(path, "wb") as f:
    f.write(make_icons.encode_gif(noise))
decoded = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True,
                         timeout=30).stdout
os.remove(path)
if decoded != b"".join(bytes(make_icons.PALETTE[i]) for row in noise for i in row):
    failures.append("a busy picture does not survive the encoder")

for f in failures:
    print("FAIL:", f)
print(f"{len(make_icons.ICONS) * 2} icons checked, {len(failures)} failures")
sys.exit(1 if failures else 0)
