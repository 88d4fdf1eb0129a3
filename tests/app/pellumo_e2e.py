#!/usr/bin/env python3
"""Pellumo end to end: the real program under Wine on a private X server, driven with
xdotool and watched through screenshots, the way a person would see it.

Usage: pellumo_e2e.py --exe PELLUMO.EXE --wine-run SCRIPT --prefix WINEPREFIX

Everything started here (the X server, the program, the Wine server of the prefix) is
ended on every way out. Waits poll with time-outs; none is a fixed sleep. Exit code 0
when every check passed, 1 otherwise.
"""

import argparse
import calendar
import datetime
import os
import re
import signal
import subprocess
import sys
import time

SCREEN_W, SCREEN_H = 1024, 768
WINDOW_W, WINDOW_H = 320, 450
COLOUR = (63, 94, 201)  # the calendar's default 0xC95E3F as red, green, blue
CELL = 36


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)
    print(f"ok   {message}", flush=True)


def wait_for(what, probe, timeout, interval=0.1):
    """Calls probe() until it returns something true; returns that, or fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


class Screen:
    """One screenshot of the root window as rows of (r, g, b) bytes."""

    def __init__(self, display):
        ppm = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "ppm:-"],
                             check=True, capture_output=True, timeout=30).stdout
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        if not header:
            raise Failure("the screenshot is not an 8-bit PPM")
        self.width, self.height = int(header.group(1)), int(header.group(2))
        self.pixels = ppm[header.end():]

    def at(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            return (0, 0, 0)
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def region(self, left, top, right, bottom):
        return bytes(b for y in range(max(top, 0), min(bottom, self.height))
                     for b in self.pixels[(y * self.width + max(left, 0)) * 3:
                                          (y * self.width + min(right, self.width)) * 3])

    def count(self, left, top, right, bottom, test):
        return sum(1 for y in range(top, bottom) for x in range(left, right) if test(self.at(x, y)))


def is_ink(p):
    """The calendar colour or an anti-aliased darker shade of it over black."""
    r, g, b = p
    if b < 24:
        return False
    return abs(r / b - COLOUR[0] / COLOUR[2]) < 0.12 and abs(g / b - COLOUR[1] / COLOUR[2]) < 0.12


def is_exact(p):
    return p == COLOUR


def month_layout(year, month):
    """Cells (0 = first Sunday cell) that a month fills."""
    first = (datetime.date(year, month, 1).weekday() + 1) % 7  # Sunday first
    return frozenset(range(first, first + calendar.monthrange(year, month)[1]))


class Program:
    def __init__(self, args, display):
        self.args = args
        self.env = dict(os.environ, DISPLAY=display)
        self.process = None

    def start(self):
        self.started = time.monotonic()
        self.process = subprocess.Popen([self.args.wine_run, "--prefix", self.args.prefix, self.args.exe],
                                        env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self.process

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)

    def run_again(self, timeout):
        """A second start: returns its exit code."""
        return subprocess.run([self.args.wine_run, "--prefix", self.args.prefix, self.args.exe], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode


def x(display, *command, timeout=10):
    result = subprocess.run(list(command), env=dict(os.environ, DISPLAY=display), capture_output=True,
                            text=True, timeout=timeout)
    return result.stdout if result.returncode == 0 else ""


def find_window(display):
    """The mapped X window of pellumo.exe as (id, x, y, width, height), or None."""
    for line in x(display, "xwininfo", "-root", "-tree").splitlines():
        if '"pellumo.exe"' not in line:
            continue
        window_id = line.split()[0]
        info = x(display, "xwininfo", "-id", window_id)
        if "IsViewable" not in info:
            continue
        field = {k: int(v) for k, v in re.findall(r"(Absolute upper-left [XY]|Width|Height):\s+(-?\d+)", info)}
        if field.get("Width", 0) > 1:
            return (window_id, field["Absolute upper-left X"], field["Absolute upper-left Y"], field["Width"],
                    field["Height"])
    return None


class Calendar:
    """Reads the calendar off the screen once the origin of its grid is known."""

    def __init__(self, window):
        _, self.left, self.top, width, height = window
        self.right, self.bottom = self.left + width, self.top + height
        self.origin = None

    def ink(self, screen):
        return screen.count(self.left, max(self.top, 0), self.right, self.bottom, is_ink)

    def exact(self, screen):
        return screen.count(self.left, max(self.top, 0), self.right, self.bottom, is_exact)

    def find_origin(self, screen):
        """The grid's origin from the week-day header, the topmost ink of today's month:
        its first name is drawn 4 pixels right of the origin and 18 below it."""
        rows = [y for y in range(max(self.top, 0), self.bottom)
                if screen.count(self.left, y, self.right, y + 1, is_ink) > 0]
        header_top = rows[0]
        header_left = min(x0 for x0 in range(self.left, self.right)
                          if screen.count(x0, header_top, x0 + 1, header_top + 14, is_ink) > 0)
        # Glyph ink starts a pixel or so inside the text position.
        self.origin = (header_left - 5, header_top - 19)
        return self.origin

    def layout(self, screen):
        """Cells whose number area carries ink. Row 5 is read in its first two columns only:
        no month reaches further, and the today line crosses the rest."""
        ox, oy = self.origin
        cells = set()
        for k in range(37):
            column, row = k % 7, k // 7
            left, top = ox + CELL * column, oy + CELL + CELL * row
            if screen.count(left + 8, top + 2, left + 30, top + 11, is_ink) > 0:
                cells.add(k)
        return frozenset(cells)

    def caption(self, screen):
        ox, oy = self.origin
        return screen.count(ox + 45, oy + 1, ox + 250, oy + 15, is_ink)

    def box_edges(self, screen):
        """Columns holding a vertical run of 30 or more exact-colour pixels: today's box."""
        ox, oy = self.origin
        columns = 0
        for x0 in range(ox - 4, ox + 7 * CELL + 4):
            run = best = 0
            for y in range(oy + CELL, oy + 7 * CELL + 4):
                run = run + 1 if is_exact(screen.at(x0, y)) else 0
                best = max(best, run)
            columns += best >= 30
        return columns

    def grid(self, screen):
        ox, oy = self.origin
        return screen.region(ox - 2, oy, ox + 252, oy + 253)


def run_checks(program, display):
    first = program.start()

    window = wait_for("the window", lambda: find_window(display), timeout=180)
    appeared = time.monotonic()
    early = Screen(display)
    early_age = time.monotonic() - appeared
    _, wx, wy, ww, wh = window
    check((wx, wy, ww, wh) == (SCREEN_W - WINDOW_W, -15, WINDOW_W, WINDOW_H),
          f"window at x = screen width - 320, y = -15, 320 x 450 (got {wx}, {wy}, {ww} x {wh})")
    cal = Calendar(window)
    if early_age < 2.0:
        check(cal.ink(early) == 0, "nothing is drawn before the first timer tick")

    def drawn():
        screen = Screen(display)
        return screen if cal.exact(screen) > 200 else None

    home = wait_for("the calendar to be drawn", drawn, timeout=20, interval=0.2)
    delay = time.monotonic() - appeared
    check(2.0 <= delay <= 15, f"the calendar comes about 3 s after the window ({delay:.1f} s)")
    check(cal.exact(home) > 200, f"drawn in 0xC95E3F: {cal.exact(home)} pixels of red 63, green 94, blue 201")
    stray = home.count(cal.left, max(cal.top, 0) + 21, cal.right, cal.bottom,
                       lambda p: p != (0, 0, 0) and not is_ink(p))
    check(stray < 0.02 * cal.ink(home), f"nothing in other colours below the frame ({stray} pixels)")

    ox, oy = cal.find_origin(home)
    today = datetime.date.today()
    check(cal.layout(home) == month_layout(today.year, today.month),
          f"today's month {today:%Y-%m} laid out (grid origin at window + ({ox - wx}, {oy - wy}))")
    check(cal.caption(home) == 0, "no caption over today's month")
    check(cal.box_edges(home) >= 2, "today's box")

    # Without a window manager nobody hands out the keyboard focus: give it to the window,
    # as a click on it would.
    x(display, "xdotool", "windowfocus", "--sync", window[0])

    def press(*keys):
        x(display, "xdotool", "key", "--delay", "5", *keys, timeout=120)

    def shows(year, month, caption=True):
        want = month_layout(year, month)

        def probe():
            screen = Screen(display)
            if cal.layout(screen) != want:
                return None
            if caption and (cal.caption(screen) == 0 or cal.box_edges(screen) > 0):
                return None
            return screen

        return wait_for(f"{year}-{month:02}", probe, timeout=30, interval=0.2)

    def months_from(year, month, delta):
        n = year * 12 + month - 1 + delta
        return n // 12, n % 12 + 1

    def same_as_home():
        return wait_for("the start month again", lambda: cal.grid(Screen(display)) == cal.grid(home) or None,
                        timeout=30, interval=0.2)

    y, m = today.year, today.month
    press("Down")
    shows(*months_from(y, m, 1))
    check(True, "Down shows the next month, with the caption and without the box")
    press("Up")
    same_as_home()
    check(True, "Up goes back: caption gone, box back")
    press("Right")
    shows(y + 1, m)
    check(True, "Right shows the same month a year on")
    press("Left")
    same_as_home()
    check(True, "Left goes back a year")
    press("Up", "Up", "Left")
    shows(*months_from(y - 1, m, -2))
    press("Home")
    same_as_home()
    check(True, "Home comes back to the current month")

    # To January 1900: Left past the first year, then Up past the first month.
    press(*["Left"] * (y - 1900 + 2))
    shows(1900, m)
    press(*["Up"] * (m + 1))
    shows(1900, 1)
    check(True, "Left and Up stop at January 1900")
    # A step that must do nothing, then one that must: the second shows where the first left it.
    press("Up", "Down")
    shows(1900, 2)
    press("Up", "Left", "Right")
    shows(1901, 1)
    check(True, "at January 1900, Up and Left change nothing")

    press(*["Right"] * 201)
    shows(2100, 1)
    press(*["Down"] * 13)
    shows(2100, 12)
    check(True, "Right and Down stop at December 2100")
    press("Down", "Up")
    shows(2100, 11)
    press("Down", "Right", "Left")
    shows(2099, 12)
    check(True, "at December 2100, Down and Right change nothing")
    press("Home")
    same_as_home()

    second = time.monotonic()
    code = program.run_again(timeout=60)
    second = time.monotonic() - second
    check(code == 0 and second < 20, f"a second start ends at once with exit code 0 (got {code} in {second:.1f} s)")
    check(first.poll() is None and find_window(display) is not None, "and the first keeps running")

    # Alt+F4 goes to the focused window; the system turns it into the window's destruction.
    press("alt+F4")
    try:
        code = first.wait(timeout=30)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not end after Alt+F4")
    check(code == 0, f"closed by the system, the program ends with exit code 0 (got {code})")


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24",
                               "-nolisten", "tcp", "-br"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        server.kill()
        raise Failure("Xvfb did not start")
    return server, f":{number}"


def stop_wine(prefix):
    subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=os.path.abspath(prefix)),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    args = parser.parse_args()

    # ctest ends a test that runs too long with a signal: leave nothing behind then either.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    began = time.monotonic()
    stop_wine(args.prefix)  # a server left bound to another display would take the windows there
    server = program = None
    try:
        server, display = start_xvfb()
        program = Program(args, display)
        run_checks(program, display)
        print(f"all checks passed in {time.monotonic() - began:.1f} s")
        return 0
    except Failure as failure:
        print(f"FAIL {failure}")
        return 1
    finally:
        if program:
            program.stop()  # first, or a start still setting up the prefix would go on after the server
        stop_wine(args.prefix)
        if server:
            server.terminate()
            try:
                server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                server.kill()


if __name__ == "__main__":
    sys.exit(main())
