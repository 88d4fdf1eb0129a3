"""The program under Wine on an X server of its own, read off screenshots; every wait is bounded."""

import os
import re
import signal
import subprocess
import sys
import time

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


def x(*command):
    return subprocess.run(command, capture_output=True, text=True, timeout=10).stdout


class Screen:
    def __init__(self):
        ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], check=True, capture_output=True,
                             timeout=30).stdout
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        self.width, self.height, self.pixels = int(header.group(1)), int(header.group(2)), ppm[header.end():]

    def rows(self, left, top, right, bottom):  # (r, g, b) row by row, clipped to the screen
        left, right = max(left, 0), min(right, self.width)
        for y in range(max(top, 0), min(bottom, self.height)):
            row = self.pixels[(y * self.width + left) * 3:(y * self.width + right) * 3]
            yield [tuple(row[i:i + 3]) for i in range(0, len(row), 3)]

    def count(self, area, test):
        return sum(1 for row in self.rows(*area) for p in row if test(p))


def is_ink(p):  # the calendar colour or an anti-aliased darker shade of it over black
    r, g, b = p
    return b >= 24 and abs(r / b - COLOUR[0] / COLOUR[2]) < 0.12 and abs(g / b - COLOUR[1] / COLOUR[2]) < 0.12


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


def start(args, started, folder, hosts="127.0.0.1:1", **env):
    """Starts the program in `folder`, its forecast at `hosts`, and waits for its window and calendar: (process, window
    (id, x, y, width, height), its area on screen, the screen with the calendar, seconds between)."""
    started.append(program := subprocess.Popen([args.wine_run, "--prefix", args.prefix, args.exe], cwd=folder, env=dict(
        os.environ, PELLUMO_SEARCH_HOST=hosts, PELLUMO_ICON_HOST=hosts, **env), **QUIET))
    window = wait_for("the window", find_window, timeout=180, interval=0.1)
    appeared, (_, wx, wy, ww, wh) = time.monotonic(), window
    area = (wx, max(wy, 0), wx + ww, wy + wh)
    screen = wait_for("the calendar", lambda: (s := Screen()).count(area, lambda p: p == COLOUR) > 200 and s, 30)
    return program, window, area, screen, time.monotonic() - appeared


def set_dpi(args, dpi):
    with open(args.exe, "rb") as f:  # the prefix that `reg` makes must suit the program: 32 or 64 bits
        head = f.read(4096)
    bits = {0x10B: 32, 0x20B: 64}[int.from_bytes(head[int.from_bytes(head[60:64], "little") + 24:][:2], "little")]
    subprocess.run([args.wine_run, "--prefix", args.prefix, "--arch", str(bits), "reg", "add",
                    r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                   timeout=120, check=True, **QUIET)


def stop_wine(args):
    subprocess.run([args.wine_run, "--prefix", args.prefix, "--server", "-k"], timeout=60, **QUIET)


def run_session(args, checks, size="1024x768"):
    """Runs checks(started) on a private X server with a Wine server of its own and ends all that
    was started on every way out (the X server first in `started`): the exit code."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # ctest's time-out: clean up then too
    stop_wine(args)  # a server left bound to another display would take the windows there
    started = []
    try:
        read_end, write_end = os.pipe()
        started.append(subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{size}x24",
                                         "-nolisten", "tcp", "-br"], pass_fds=(write_end,), **QUIET))
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
        stop_wine(args)  # after the program, or a start still setting up the prefix would go on
        if started:
            started[0].terminate()
            started[0].wait(timeout=10)
