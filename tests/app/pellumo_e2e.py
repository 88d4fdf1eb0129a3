#!/usr/bin/env python3
"""Pellumo end to end under Wine, read off screenshots: what only the real process shows (a start from another
folder, the whole process's locale, a second start, Close saving beside the program, the forecast on screen and its
icons cached) against the forecast service that --server-command starts on 127.0.0.1, its requests read from its
access log."""

import argparse
import os
import pathlib
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

COLOUR = (63, 94, 201)  # the calendar's default 0xC95E3F as red, green, blue
QUIET = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
PANEL = (8, 280)  # the forecast's origin from the window's; its icons at y + 16, these x:
ICON_X = (0, 49, 102, 151, 204, 253)
# The default line but for the autostart flag, which nothing at start acts on: found beside the
# program, it must be saved back there.
STORED = b"/1/1/30,0,13196863,13196863,13196863,13196863,13196863/4,260,16711935,"


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


def find_window():  # the mapped X window of pellumo.exe as (id, x, y, width, height), or None
    for line in x("xwininfo", "-root", "-tree").splitlines():
        if '"pellumo.exe"' in line:
            info = x("xwininfo", "-id", line.split()[0])
            field = dict(re.findall(r"(Absolute upper-left [XY]|Width|Height):\s+(-?\d+)", info))
            if "IsViewable" in info and int(field.get("Width", 0)) > 1:
                keys = ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")
                return (line.split()[0], *(int(field[k]) for k in keys))
    return None


def start(args, started, folder, hosts="127.0.0.1:1", **env):
    """Starts the program in `folder`, waits for its window and calendar: (process, window, area, seconds between)"""
    started.append(program := subprocess.Popen([args.wine_run, "--prefix", args.prefix, args.exe], cwd=folder, env=dict(
        os.environ, PELLUMO_SEARCH_HOST=hosts, PELLUMO_ICON_HOST=hosts, **env), **QUIET))
    window = wait_for("the window", find_window, timeout=180, interval=0.1)
    appeared, (_, wx, wy, ww, wh) = time.monotonic(), window
    area = (wx, max(wy, 0), wx + ww, wy + wh)
    wait_for("the calendar", lambda: Screen().count(area, lambda p: p == COLOUR) > 200, 30)
    return program, window, area, time.monotonic() - appeared


def run_session(args, checks):
    """Runs checks(started) on a private X server and Wine server, ending all it started on every way out."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # ctest's time-out: clean up then too
    stop_wine = [args.wine_run, "--prefix", args.prefix, "--server", "-k"]
    subprocess.run(stop_wine, timeout=60, **QUIET)  # a server left bound to another display would take the windows
    started = []
    try:
        read_end, write_end = os.pipe()
        started.append(subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
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
        subprocess.run(stop_wine, timeout=60, **QUIET)  # after the program, or a start setting up the prefix goes on
        if started:
            started[0].terminate()
            started[0].wait(timeout=10)


def start_and_show(args, started, folder, requests, hosts, locale, what):
    """Starts the program and waits for its forecast: six icons (drawn on see-through black: part of each is
    enough), three days of four lines in 0xFF00FF. (process, window, delay, its pixels, the requests by then)"""
    program, window, area, delay = start(args, started, folder, hosts, PELLUMO_WINE_LOCALE=locale)
    ox, oy = window[1] + PANEL[0], window[2] + PANEL[1]
    shows = lambda s: all(s.count((ox + dx, oy + 16, ox + dx + 49, oy + 65), lambda p: any(p)) >= 60  # noqa: E731
                          for dx in ICON_X) and all(s.count((ox + 102 * d, oy + 67 + 16 * i, ox + 102 * d + 100,
                                                             oy + 83 + 16 * i), lambda p: p == (255, 0, 255))
                                                    for d in range(3) for i in range(4))
    screen = wait_for(f"the forecast {what}", lambda: shows(s := Screen()) and s, 60, 0.3)
    print(f"ok   the three days and six icons at panel origin {(ox, oy)} {what}", flush=True)
    time.sleep(1.5)  # anything still on its way would show up as an extra request
    asked = requests[:]
    del requests[:len(asked)]
    return program, window, delay, list(screen.rows(*area)), asked


def menu(window, *keys):
    """Opens the popup menu by a right click on the calendar's ink (a click on black goes through the
    window), waits until it has stopped changing, and presses `keys`."""
    cx, cy = next((window[1] + x0, max(window[2], 0) + y0) for y0, row in enumerate(Screen().rows(
        window[1], max(window[2], 0), window[1] + window[3], window[2] + window[4]))
                  for x0 in range(len(row) - 1) if row[x0] == row[x0 + 1] == COLOUR)
    x("xdotool", "windowfocus", "--sync", window[0])
    x("xdotool", "mousemove", str(cx), str(cy), "click", "3")
    pictures = []

    def drawn():  # the menu is there and two pictures of it in a row are the same
        pictures.append(list((s := Screen()).rows(cx, cy, cx + 200, cy + 300)))
        return s.count((cx, cy, cx + 60, cy + 60), lambda p: min(p) > 150) > 2000 and pictures[-2:-1] == pictures[-1:]
    wait_for("the popup menu drawn", drawn, 20)
    x("xdotool", "key", "--delay", "100", *keys)


def about_lines(window):
    """A picture of the About lines (the menu's bottom item), which go straight onto the screen in red."""
    menu(window, "Up", "Return")
    about, pictures = (1024 - 300, 245, 1024, 295), []
    wait_for("the About lines", lambda: (pictures.append(list((s := Screen()).rows(*about))) or True) and
             s.count(about, lambda p: p == (255, 0, 0)) > 50 and pictures[-2:-1] == pictures[-1:], 20, 0.3)
    return pictures[-1]


def run_checks(args, started, requests, port, folder):
    # Kept in a folder named in Chinese and started from another, as Windows starts the programs of the
    # Run key, first under another language (code page 1252), then Chinese: the same look under both.
    home, elsewhere, hosts = os.path.join(folder, "程序"), os.path.join(folder, "elsewhere"), f"127.0.0.1:{port}"
    os.makedirs(home), os.makedirs(elsewhere)
    args.exe, path = shutil.copy(args.exe, home), os.path.join(home, "quorvan.idx")
    pathlib.Path(path).write_bytes(STORED)
    os.utime(path, (0, 0))  # so that a save shows
    first, window, delay, english, asked = start_and_show(args, started, elsewhere, requests, hosts, "en_US.UTF-8",
                                                          "on the first start, under an English locale")
    check(window[1:] == (1024 - 320, -15, 320, 450), f"window at (width - 320, -15), 320 x 450: {window[1:]}")
    check(2.0 <= delay <= 15, f"the calendar in 0xC95E3F comes about 3 s after the window ({delay:.1f} s)")
    if args.screenshot:
        subprocess.run(["import", "-window", "root", args.screenshot], check=True, timeout=30)
    cached = sorted(os.listdir(os.path.join(home, "picture")))
    check(1 <= len(cached) <= 6 and all(n[:2] in ("白天", "夜晚") for n in cached),
          f"the icons are cached beside the program under their GBK names ({cached})")
    # Each distinct icon crosses the network once (two days may share one); all are on screen.
    icons = [r.split()[1] for r in asked[1:]]
    check(asked and asked[0].startswith("GET /s?bs=") and 1 <= len(icons) <= 6 and len(set(icons)) == len(icons) and
          all(i.startswith("/vip/baidu/imag/") for i in icons),
          f"the first start asks for the page and each of its icons once ({asked})")
    # A second start while the first runs ends at once (else a time-out).
    code = subprocess.run([args.wine_run, "--prefix", args.prefix, args.exe], timeout=20, **QUIET).returncode
    check(code == 0 and first.poll() is None and find_window(), f"a second start ends at once ({code})")
    english_about = about_lines(window)
    menu(window, "Up", "Up", "Return")  # from the bottom: About, then Close
    wait_for("the program to end after Close", lambda: first.poll() is not None, 30)
    saved, attributes = pathlib.Path(path).read_bytes(), int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16)
    check(first.returncode == 0 and saved == STORED and os.stat(path).st_mtime > 0 and attributes & 6 == 6 and
          not os.listdir(elsewhere), f"Close ends with 0 and saves the line beside the program, hidden and system, "
          f"nothing where it was started ({first.returncode}, {saved!r}, 0x{attributes:x}, {os.listdir(elsewhere)})")
    # The About lines stay on the root window and would show through the next window's see-through
    # black: a window mapped over them and gone again has the root repaint there.
    subprocess.run(["xmessage", "-geometry", "330x90+694+225", "-timeout", "1", "-"], input=b" ", timeout=30, **QUIET)
    program, window, _, chinese, again = start_and_show(args, started, elsewhere, requests, hosts, "zh_CN.UTF-8",
                                                        "on the next start, under the Chinese locale")
    check(len(again) == 1 and again[0].startswith("GET /s?bs="), f"the next start, icons cached, asks once ({again})")
    differing = sum(a != b for ra, rb in zip(english, chinese) for a, b in zip(ra, rb))
    check(differing == 0, f"calendar and forecast look the same under both locales ({differing} pixels differ)")
    # Where the About lines cross the today line, its edge shades may differ once redrawn.
    differing = sum(a != b and not (min(a[2], b[2]) > 24 and a[0] < a[2] and b[0] < b[2])
                    for ra, rb in zip(english_about, about_lines(window)) for a, b in zip(ra, rb))
    check(differing == 0, f"the About lines look the same under both locales ({differing} pixels differ)")
    x("xdotool", "windowfocus", "--sync", window[0])
    x("xdotool", "key", "alt+F4")
    wait_for("the program to end at Alt+F4", lambda: program.poll() is not None, 30)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--exe", "--wine-run", "--prefix"):
        parser.add_argument(option, required=True, type=os.path.abspath)  # the program runs in a folder of its own
    parser.add_argument("--screenshot", help="where to save the first start's screenshot (PNG)")
    parser.add_argument("--server-command", required=True, help="starts the site; {port}, {icon_host} filled in")
    args = parser.parse_args()
    if not shutil.which(shlex.split(args.server_command)[0]):
        print(f"SKIP the site's program is not built: {shlex.split(args.server_command)[0]}")
        return 77
    site, requests = None, []

    def log(stream):  # the service's access log: "... GET /target 200 ..."
        for line in stream:
            if found := re.search(r" (GET|HEAD) (\S+) \d{3} ", line):
                requests.append(f"{found.group(1)} {found.group(2)}")

    def checks(started):
        nonlocal site
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        command = shlex.split(args.server_command.format(port=port, icon_host=f"127.0.0.1:{port}"))
        site = subprocess.Popen(command, start_new_session=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True)
        threading.Thread(target=log, args=(site.stdout,), daemon=True).start()
        wait_for(f"the site on port {port}", lambda: site.poll() is None and not socket.socket().connect_ex(
            ("127.0.0.1", port)), 60)
        with tempfile.TemporaryDirectory() as folder:
            run_checks(args, started, requests, port, folder)
    try:
        return run_session(args, checks)
    finally:
        if site and site.poll() is None:
            os.killpg(site.pid, signal.SIGKILL)  # the site's whole session: nothing of it is kept
            site.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
