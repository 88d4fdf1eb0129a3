#!/usr/bin/env python3
"""The weather icons as an independent decoder sees them: every GIF that the build wrote,
decoded by ImageMagick and compared pixel for pixel with the drawing it was encoded from.

Usage: icons_test.py SERVICE_SOURCE_DIR GIF_DIR (exit 77 when ImageMagick is missing)
"""

import os, shutil, subprocess, sys

source_dir, gif_dir = sys.argv[1], sys.argv[2]
sys.path.insert(0, source_dir)
import make_icons  # noqa: E402

if not shutil.which("convert"):
    print("ImageMagick's convert is missing; skipping")
    sys.exit(77)


def decoded_as_drawn(path, pixels):
    rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, check=True, timeout=30).stdout
    return rgb == b"".join(bytes(make_icons.PALETTE[i]) for row in pixels for i in row)


failures = []
for name in make_icons.ICONS:
    day, night = make_icons.draw(name, False), make_icons.draw(name, True)
    for variant, pixels in (("day", day), ("night", night)):
        ink = [i for row in pixels for i in row if i]  # palette 0 is the only black
        if not decoded_as_drawn(os.path.join(gif_dir, f"{variant}-{name}.gif"), pixels):
            failures.append(f"{variant}-{name}: decodes to other pixels than drawn")
        black = (0, 0, 0) in [make_icons.PALETTE[i] for i in ink]
        if pixels[0][0] or black or not 0.1 < len(ink) / make_icons.SIZE ** 2 < 0.7:
            failures.append(f"{variant}-{name}: want a drawing without black on a black background")
    if day == night:
        failures.append(f"{name}: the night variant equals the day one")

print("\n".join(f"FAIL: {f}" for f in failures) or f"{len(make_icons.ICONS) * 2} icons checked")
sys.exit(1 if failures else 0)
