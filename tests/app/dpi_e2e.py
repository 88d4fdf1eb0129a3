#!/usr/bin/env python3
"""The program under Wine at 96, 120, 144 and 192 DPI (the prefix's LogPixels): the window's size and
place, and the calendar at the expected scale; each screenshot is kept. Exit 0 when all passed."""

import argparse
import os
import subprocess
import sys
import tempfile

from wine_session import COLOUR, QUIET, check, is_ink, run_session, set_dpi, start, stop_wine

SCREEN_W = 1920  # a screen that a 192 DPI window fits on: the system keeps a window within its height


def scale(value, dpi):  # rounded half away from zero, as the program scales
    return (1 if value >= 0 else -1) * ((abs(value) * dpi + 48) // 96)


def measure(rows):
    """Today's box (the longest runs of the exact colour across and down), the box around all calendar
    ink, and the height of its topmost band, the week-day names, as tall as the font."""
    longest = lambda lines: max(len(run) for line in lines for run in  # noqa: E731
                                "".join("1" if p == COLOUR else " " for p in line).split(" "))
    xs = [x for row in rows for x, p in enumerate(row) if is_ink(p)]
    ys = [y for y, row in enumerate(rows) if any(is_ink(p) for p in row)]
    band = next((i for i, y in enumerate(ys) if y != ys[0] + i), len(ys))
    return longest(rows), longest(zip(*rows)), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1, band


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--exe", "--wine-run", "--prefix", "--screenshots"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    def checks(started):
        measured = {}
        with tempfile.TemporaryDirectory() as folder:
            for dpi in (96, 120, 144, 192):
                set_dpi(args, dpi)
                program, (_, wx, wy, ww, wh), area, screen, _ = start(args, started, folder)
                want = (SCREEN_W - scale(320, dpi), scale(-15, dpi), scale(320, dpi), scale(450, dpi))
                check((wx, wy, ww, wh) == want, f"{dpi} DPI: window at {want[:2]}, {want[2]} x {want[3]} "
                                                f"(got {wx}, {wy}, {ww} x {wh})")
                subprocess.run(["import", "-window", "root", "-crop", f"{ww}x{wh + min(wy, 0)}+{wx}+{max(wy, 0)}",
                                os.path.join(args.screenshots, f"dpi_e2e_{dpi}.png")], timeout=30, **QUIET)
                got = measured[dpi] = measure(list(screen.rows(*area)))
                # The box is drawn to the pixel; hinted text follows the scale within a pixel or two a glyph.
                want = tuple(scale(v, dpi) for v in measured[96])
                slack = (2, 2, max(3, want[2] // 50), max(3, want[3] // 50), 2)
                check(all(abs(g - w) <= d for g, w, d in zip(got, want, slack)),
                      f"{dpi} DPI: today's box {got[:2]}, the calendar's ink {got[2:4]} and its font {got[4]} are "
                      f"{dpi / 96:g} x those at 96 DPI ({want})")
                program.kill()
                program.wait(timeout=30)
                stop_wine(args)
    return run_session(args, checks, f"{SCREEN_W}x1080")


if __name__ == "__main__":
    sys.exit(main())
