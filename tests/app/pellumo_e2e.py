#!/usr/bin/env python3
"""Pellumo end to end: the real program under Wine on a private X server, driven with
xdotool and watched through screenshots. Every wait polls with a time-out, and all that
is started here is ended on every way out. Exit code 0 when every check passed.
"""

import argparse
import calendar
import datetime
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCREEN_W, SCREEN_H, CELL = 1024, 768, 36
COLOUR = (63, 94, 201)  # the calendar's default 0xC95E3F as red, green, blue
QUIET = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)
    print(f"ok   {message}", flush=True)


def wait_for(what, probe, timeout, interval=0.2):
    deadline = time.monotonic() + timeout
    while not (result := probe()):
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)
    return result


def x(*command, timeout=10):
    return subprocess.run(command, capture_output=True, text=True, timeout=timeout).stdout


class Screen:
    def __init__(self):
        ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], check=True, capture_output=True,
                             timeout=30).stdout
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        self.width, self.height, self.pixels = int(header.group(1)), int(header.group(2)), ppm[header.end():]

    def rows(self, left, top, right, bottom):
        """The area's pixels as (r, g, b), row by row, clipped to the screen."""
        left, right = max(left, 0), min(right, self.width)
        for y in range(max(top, 0), min(bottom, self.height)):
            row = self.pixels[(y * self.width + left) * 3:(y * self.width + right) * 3]
            yield [tuple(row[i:i + 3]) for i in range(0, len(row), 3)]

    def count(self, area, test):
        return sum(1 for row in self.rows(*area) for p in row if test(p))


def is_ink(p):
    """The calendar colour or an anti-aliased darker shade of it over black."""
    r, g, b = p
    return b >= 24 and abs(r / b - COLOUR[0] / COLOUR[2]) < 0.12 and abs(g / b - COLOUR[1] / COLOUR[2]) < 0.12


def month_layout(year, month):
    """Cells (0 = first Sunday cell) that a month fills."""
    first = (datetime.date(year, month, 1).weekday() + 1) % 7
    return frozenset(range(first, first + calendar.monthrange(year, month)[1]))


def find_window():
    """The mapped X window of pellumo.exe as (id, x, y, width, height), or None."""
    for line in x("xwininfo", "-root", "-tree").splitlines():
        if '"pellumo.exe"' in line:
            info = x("xwininfo", "-id", line.split()[0])
            field = dict(re.findall(r"(Absolute upper-left [XY]|Width|Height):\s+(-?\d+)", info))
            if "IsViewable" in info and int(field.get("Width", 0)) > 1:
                keys = ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")
                return (line.split()[0], *(int(field[k]) for k in keys))
    return None


def start(args, started, **options):
    """Starts the program (options go to Popen) and waits for its window: (process, id, area)."""
    started.append(program := subprocess.Popen([args.wine_run, "--prefix", args.prefix, args.exe], **options, **QUIET))
    wid, wx, wy, ww, wh = wait_for("the window", find_window, timeout=180, interval=0.1)
    return program, wid, (wx, max(wy, 0), wx + ww, wy + wh)


def close(program, what="the program to end"):
    """Ends the program as the system would, by Alt+F4 on its window."""
    x("xdotool", "windowfocus", "--sync", find_window()[0])
    x("xdotool", "key", "alt+F4")
    wait_for(what, lambda: program.poll() is not None, timeout=30)


def run_session(args, checks):
    """Runs checks(started) on a private X server with a Wine server of its own, and ends all
    that was started on every way out: the X server first in `started`, then the programs.
    Returns the exit code."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # ctest's time-out: clean up then too
    stop_wine = lambda: subprocess.run([args.wine_run, "--prefix", args.prefix, "--server", "-k"], timeout=60, **QUIET)
    stop_wine()  # a server left bound to another display would take the windows there
    started = []
    try:
        read_end, write_end = os.pipe()
        started.append(subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                         f"{SCREEN_W}x{SCREEN_H}x24", "-nolisten", "tcp", "-br"],
                                        pass_fds=(write_end,), **QUIET))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            os.environ["DISPLAY"] = ":" + pipe.readline().strip()  # for everything started from here on
        check(os.environ["DISPLAY"] != ":", f"a private X server on {os.environ['DISPLAY']}")
        checks(started)
        return 0
    except Failure as failure:
        print(f"FAIL {failure}")
        return 1
    finally:
        for process in started[1:]:
            process.kill()
            process.wait(timeout=30)
        stop_wine()  # after the program, or a start still setting up the prefix would go on
        if started:
            started[0].terminate()
            started[0].wait(timeout=10)


class Grid:
    """The month grid read off screenshots. Its origin comes from the week-day header, the
    topmost ink, drawn 4 pixels right of the origin and 18 below, its glyphs a pixel inside."""

    def __init__(self, screen, area):
        left, top, right, bottom = area
        header = next(y for y in range(top, bottom) if screen.count((left, y, right, y + 1), is_ink))
        first = next(x0 for x0 in range(left, right) if screen.count((x0, header, x0 + 1, header + 14), is_ink))
        self.x, self.y = first - 5, header - 19

    def read(self, screen):
        """Cells with ink in their number area (of row 5 only the two left of the today line), whether
        there is a caption, and whether today's box is there: a column with 30 pixels of the exact colour."""
        cells = frozenset(k for k in range(37) if screen.count(
            (self.x + CELL * (k % 7) + 8, self.y + CELL * (k // 7 + 1) + 2,
             self.x + CELL * (k % 7) + 30, self.y + CELL * (k // 7 + 1) + 11), is_ink))
        caption = screen.count((self.x + 45, self.y + 1, self.x + 250, self.y + 15), is_ink) > 0
        columns = zip(*screen.rows(self.x - 4, self.y + CELL, self.x + 7 * CELL + 4, self.y + 7 * CELL + 4))
        return cells, caption, any("1" * 30 in "".join("1" if p == COLOUR else "0" for p in c) for c in columns)

    def pixels(self, screen):  # the whole area the calendar repaints
        return list(screen.rows(self.x - 2, self.y, self.x + 252, self.y + 253))


# The default line with the weather text in red: what the program finds beside it.
STORED = b"/0/1/30,0,13196863,13196863,13196863,13196863,13196863/4,260,255,"


def install(exe, folder):
    """A copy of the program in a folder named in Chinese inside `folder`, with a settings
    line beside it; (the copy's path, its folder)."""
    home = os.path.join(folder, "程序")
    os.makedirs(home)
    shutil.copy(exe, home)
    pathlib.Path(home, "quorvan.idx").write_bytes(STORED)
    os.utime(os.path.join(home, "quorvan.idx"), (0, 0))  # so that a save shows
    return os.path.join(home, os.path.basename(exe)), home


def run_checks(args, started, folder):
    # Started elsewhere, as Windows starts the programs of the Run key: the program must find
    # its settings beside it and save them there.
    args.exe, program_home = install(args.exe, folder)
    elsewhere = os.path.join(folder, "elsewhere")
    os.makedirs(elsewhere)
    # A closed loopback port for the forecast: every query fails at once.
    env = dict(os.environ, PELLUMO_SEARCH_HOST="127.0.0.1:1", PELLUMO_ICON_HOST="127.0.0.1:1")
    first, wid, area = start(args, started, cwd=elsewhere, env=env)
    appeared = time.monotonic()
    _, wx, wy, ww, wh = find_window()
    check((wx, wy, ww, wh) == (SCREEN_W - 320, -15, 320, 450),
          f"window at x = screen width - 320, y = -15, 320 x 450 (got {wx}, {wy}, {ww} x {wh})")
    home = wait_for("the calendar", lambda: (s := Screen()).count(area, lambda p: p == COLOUR) > 200 and s,
                    timeout=20)
    delay = time.monotonic() - appeared
    check(2.0 <= delay <= 15, f"the calendar in 0xC95E3F comes about 3 s after the window ({delay:.1f} s)")
    stray = home.count((wx, 21, wx + ww, wy + wh), lambda p: p != (0, 0, 0) and not is_ink(p))
    check(stray < 0.02 * home.count(area, is_ink), f"nothing in other colours below the frame ({stray} pixels)")

    grid, today = Grid(home, area), datetime.date.today()
    y, m = today.year, today.month
    check(grid.read(home) == (month_layout(y, m), False, True),
          f"today's month {today:%Y-%m} with its box, no caption (grid at window + ({grid.x - wx}, {grid.y - wy}))")

    shift = lambda months: ((y * 12 + m - 1 + months) // 12, (y * 12 + m - 1 + months) % 12 + 1)  # noqa: E731
    def shows(month):  # with the caption and without the box; None: the start month as first drawn
        screen = Screen()
        if month is None:
            return grid.pixels(screen) == grid.pixels(home)
        return grid.read(screen) == (month_layout(*month), True, False)

    # Where the range of years ends is the calendar's own test's.
    steps = [(["Down"], shift(1)), (["Up"], None), (["Right"], shift(12)), (["Left"], None),
             (["Up", "Up", "Left"], shift(-14)), (["Home"], None)]
    # Without a window manager nobody hands out the keyboard focus: give it, as a click would.
    x("xdotool", "windowfocus", "--sync", wid)
    for keys, month in steps:
        x("xdotool", "key", "--delay", "5", *keys)
        what = f"{' '.join(keys)} shows {month or 'the start month again'}"
        check(wait_for(what, lambda: shows(month), timeout=30), what)

    try:
        code = subprocess.run([args.wine_run, "--prefix", args.prefix, args.exe], timeout=20, **QUIET).returncode
    except subprocess.TimeoutExpired:
        raise Failure("a second start did not end within 20 s")
    check(code == 0, f"a second start ends at once with exit code 0 (got {code})")
    check(first.poll() is None and find_window(), "and the first keeps running")

    # Black is the colour key, and a click there goes through the window: click on ink.
    cx, cy = next((x0, y0) for y0, row in enumerate(home.rows(*area), start=area[1])
                  for x0 in range(area[0], area[2] - 1) if row[x0 - area[0]] == row[x0 - area[0] + 1] == COLOUR)
    x("xdotool", "windowfocus", "--sync", wid)
    x("xdotool", "mousemove", str(cx), str(cy), "click", "3")
    wait_for("the popup menu at the cursor",
             lambda: Screen().count((cx, cy, cx + 60, cy + 60), lambda p: min(p) > 150) > 0.8 * 60 * 60, timeout=20)
    check(True, "right button up on the window opens the menu at the cursor")
    x("xdotool", "key", "--delay", "100", "Up", "Up", "Return")  # from the bottom: About, then Close
    wait_for("the program to end after Close", lambda: first.poll() is not None, timeout=30)
    check(first.returncode == 0, f"Close ends the program with exit code 0 (got {first.returncode})")
    path = os.path.join(program_home, "quorvan.idx")
    saved = pathlib.Path(path).read_bytes()
    check(saved == STORED and os.stat(path).st_mtime > 0 and os.listdir(elsewhere) == [],
          f"the line beside the program was applied and Close saved it there, nothing where it was started "
          f"(got {saved!r}, {os.listdir(elsewhere)})")
    attributes = int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16)
    check(attributes & 6 == 6, f"the file is hidden and system (attributes 0x{attributes:x})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--exe", "--wine-run", "--prefix"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    def checks(started):
        with tempfile.TemporaryDirectory() as folder:
            run_checks(args, started, folder)
    return run_session(args, checks)


if __name__ == "__main__":
    sys.exit(main())
