#!/usr/bin/env python3
"""The program under Wine at 96, 120, 144 and 192 DPI (the prefix's LogPixels): the window's
size and place, and the calendar in a screenshot at the expected scale. Each screenshot of
the window is kept in the build folder. Exit code 0 when every check passed."""

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pellumo_e2e  # noqa: E402
from pellumo_e2e import COLOUR, QUIET, Screen, check, find_window, is_ink, run_session, start, wait_for  # noqa: E402

# A screen that a 192 DPI window fits on: the system keeps a window within the screen's height.
pellumo_e2e.SCREEN_W, pellumo_e2e.SCREEN_H = SCREEN_W, _ = 1920, 1080


def scale(value, dpi):
    """Rounded half away from zero, as the program scales."""
    scaled = abs(value) * dpi
    return (1 if value >= 0 else -1) * ((scaled + 48) // 96)


def longest_runs(rows):
    """The longest horizontal and vertical runs of the calendar's exact colour: today's box."""
    def longest(lines):
        best = 0
        for line in lines:
            run = 0
            for p in line:
                run = run + 1 if p == COLOUR else 0
                best = max(best, run)
        return best
    return longest(rows), longest(zip(*rows))


def ink_box(rows):
    """Width and height of the box around every pixel of calendar ink, and the height of the
    topmost band of rows with ink: the week-day names, as tall as the font."""
    xs = [x for row in rows for x, p in enumerate(row) if is_ink(p)]
    ys = [y for y, row in enumerate(rows) if any(is_ink(p) for p in row)]
    band = next(i for i, y in enumerate(ys) if y != ys[0] + i) if len(ys) > 1 else 1
    return max(xs) - min(xs) + 1, max(ys) - min(ys) + 1, band


def pe_bits(path):
    """32 or 64, from the program's header: the prefix that `reg` makes must suit the program."""
    with open(path, "rb") as f:
        data = f.read(4096)
    magic = int.from_bytes(data[int.from_bytes(data[60:64], "little") + 24:][:2], "little")
    return {0x10B: 32, 0x20B: 64}[magic]


def set_dpi(args, dpi):
    subprocess.run([args.wine_run, "--prefix", args.prefix, "--arch", str(pe_bits(args.exe)), "reg", "add", r"HKCU\Control Panel\Desktop", "/v",
                    "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"], timeout=120, check=True, **QUIET)


def run_checks(args, started, folder):
    env = dict(os.environ, PELLUMO_SEARCH_HOST="127.0.0.1:1", PELLUMO_ICON_HOST="127.0.0.1:1")
    measured = {}
    for dpi in (96, 120, 144, 192):
        set_dpi(args, dpi)
        program, _, area = start(args, started, cwd=folder, env=env)
        _, wx, wy, ww, wh = find_window()
        want = (SCREEN_W - scale(320, dpi), scale(-15, dpi), scale(320, dpi), scale(450, dpi))
        check((wx, wy, ww, wh) == want, f"{dpi} DPI: window at {want[:2]}, {want[2]} x {want[3]} (got {wx}, {wy}, "
                                        f"{ww} x {wh})")
        screen = wait_for("the calendar", lambda: (s := Screen()).count(area, lambda p: p == COLOUR) > 200 and s,
                          timeout=30)
        subprocess.run(["import", "-window", "root", "-crop", f"{ww}x{wh + min(wy, 0)}+{wx}+{max(wy, 0)}",
                        os.path.join(args.screenshots, f"dpi_e2e_{dpi}.png")], timeout=30, **QUIET)
        rows = list(screen.rows(*area))
        measured[dpi] = longest_runs(rows) + ink_box(rows)
        base = measured[96]
        if dpi != 96:
            # The box is drawn to the pixel; text is hinted, so its extent follows the scale
            # within a pixel or two per glyph.
            expected = tuple(scale(v, dpi) for v in base)
            slack = (2, 2, max(3, expected[2] // 50), max(3, expected[3] // 50), 2)
            close = all(abs(got - exp) <= d for got, exp, d in zip(measured[dpi], expected, slack))
            check(close, f"{dpi} DPI: today's box {measured[dpi][:2]}, the calendar's ink {measured[dpi][2:4]} and its "
                         f"font {measured[dpi][4]} are {dpi / 96:g} x those at 96 DPI ({expected})")
        program.kill()
        program.wait(timeout=30)
        subprocess.run([args.wine_run, "--prefix", args.prefix, "--server", "-k"], timeout=60, **QUIET)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--exe", "--wine-run", "--prefix", "--screenshots"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    def checks(started):
        with tempfile.TemporaryDirectory() as folder:
            run_checks(args, started, folder)
    return run_session(args, checks)


if __name__ == "__main__":
    sys.exit(main())
