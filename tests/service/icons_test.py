#!/usr/bin/env python3
"""Every GIF the build wrote, decoded by ImageMagick, against the drawing it was encoded from: the same
pixels, no black on a black background, and a night variant of its own.
Usage: icons_test.py SERVICE_SOURCE_DIR GIF_DIR (exit 77 without ImageMagick)"""

import os, shutil, subprocess, sys

sys.path.insert(0, sys.argv[1])
import make_icons  # noqa: E402

if not shutil.which("convert"):
    sys.exit(print("ImageMagick's convert is missing; skipping") or 77)
failures = []
for name in make_icons.ICONS:
    drawn = {variant: make_icons.draw(name, variant == "night") for variant in ("day", "night")}
    for variant, pixels in drawn.items():
        path = os.path.join(sys.argv[2], f"{variant}-{name}.gif")
        rgb = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True, timeout=30).stdout
        ink = [make_icons.PALETTE[i] for row in pixels for i in row if i]  # palette 0 is the only black
        if rgb != b"".join(bytes(make_icons.PALETTE[i]) for row in pixels for i in row) or pixels[0][0] or \
                (0, 0, 0) in ink or not 0.1 < len(ink) / make_icons.SIZE ** 2 < 0.7 or drawn["day"] == drawn["night"]:
            failures.append(f"{variant}-{name}")
print("\n".join(f"FAIL: {f}" for f in failures) or f"{len(make_icons.ICONS) * 2} icons checked")
sys.exit(1 if failures else 0)
