#!/usr/bin/env python3
"""Pellumo end to end: the real program under Wine on a private X server, driven with
xdotool and watched through screenshots, its forecast fetched from a site on 127.0.0.1
whose requests are counted. One run per path a user sees: the start (window, calendar, keys),
the forecast with its six icons, a second start while running, the menu's Close saving the
settings, and a start after that with the icons cached (one request). Every wait polls with a
time-out, and all that is started here is ended on every way out. Exit 0 when all passed.

The site is a scripted one served from here, or with --server-command another one, such as
the forecast service: {port} (where it must listen on 127.0.0.1) and {icon_host} (the
host:port its pages must name for icons) are filled in; the icons' exact colours are then
not checked.
"""

import argparse
import calendar
import datetime
import http.server
import os
import pathlib
import re
import shlex
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
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


ICON_X = (0, 49, 102, 151, 204, 253)  # relative to the panel's origin, at y + 16
PANEL_ORIGIN, CALENDAR_ORIGIN = (4, 260), (30, 0)  # in client pixels
TEXT = (255, 0, 255)  # the panel's default text colour 0xFF00FF
ICONS = (("day/qing", (255, 0, 0)), ("night/yin", (0, 255, 0)), ("day/yu", (255, 255, 0)),
         ("night/yu", (0, 255, 255)), ("day/xue", (255, 255, 255)), ("night/qing", (255, 128, 0)))


def make_gif(side, colour):
    """A GIF of one colour; the LZW table restarts every two pixels, so every code (clear 4,
    pixel 0, end 5) stays three bits wide."""
    codes = [c for i in range(side * side) for c in ((4, 0) if i % 2 == 0 else (0,))] + [5]
    stream = sum(c << (3 * i) for i, c in enumerate(codes)).to_bytes((3 * len(codes) + 7) // 8, "little")
    blocks = b"".join(bytes([len(stream[i:i + 255])]) + stream[i:i + 255] for i in range(0, len(stream), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", side, side, 0x80, 0, 0) + bytes(colour) + b"\0\0\0," +
            struct.pack("<HHHHB", 0, 0, side, side, 0) + b"\x02" + blocks + b"\0;")


def scripted_site(requests=None):
    """Starts the scripted site on 127.0.0.1, which names itself for the icons and adds the
    requests it answers to `requests`: (server, port)."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), http.server.BaseHTTPRequestHandler)
    host = f"127.0.0.1:{server.server_address[1]}"
    icon = lambda k: f'<img src="http://{host}/vip/baidu/imag/{ICONS[k][0]}.gif">'  # noqa: E731
    days = "".join(f"<tr><td>{icon(2 * d)}{icon(2 * d + 1)}</td><td>{22 - d}℃～{15 - d}℃</td>"
                   f"<td>晴转多云</td><td><span>北风3-4级</span></td></tr>" for d in range(3))
    page = (b'<html><body><table cellspacing="0" cellpadding="0" class="al_wt">' +
            f"<tr><td>北京<br></td></tr>{days}".encode("gbk") + b"</table></body></html>")
    bodies = {f"/vip/baidu/imag/{name}.gif": make_gif(49, colour) for name, colour in ICONS}

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version, timeout = "HTTP/1.1", 20
        log_message = lambda *_: None  # noqa: E731

        def do_GET(self):
            requests is None or requests.append(f"GET {self.path}")
            body = page if self.path.startswith("/s?") else bodies.get(self.path, b"")
            self.send_response(200 if body else 404)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server.RequestHandlerClass, server.daemon_threads = Handler, True
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True).start()
    return server, server.server_address[1]


class Requests(list):
    """The request lines a site answered, "METHOD target", as its own log gives them."""

    def take(self):
        taken = self[:]
        del self[:len(taken)]
        return taken


def shows_forecast(screen, ox, oy, exact_colours):
    """Whether the six icons and the three days' four text lines are on screen. Another
    site's icons are drawn on black, the window's see-through colour, so only the figure
    itself shows: a small part of the square is enough."""
    for k, dx in enumerate(ICON_X):
        square = (ox + dx, oy + 16, ox + dx + 49, oy + 65)
        if (screen.count(square, lambda p, c=ICONS[k][1]: p == c) != 49 * 49 if exact_colours
                else screen.count(square, lambda p: p != (0, 0, 0)) < 60):
            return False
    return all(screen.count((ox + 102 * day, oy + 67 + 16 * line, ox + 102 * day + 100, oy + 83 + 16 * line),
                            lambda p: p == TEXT) for day in range(3) for line in range(4))


# The default line but for the autostart flag, which nothing at start acts on: what the
# program finds beside it and must save back.
STORED = b"/1/1/30,0,13196863,13196863,13196863,13196863,13196863/4,260,16711935,"


def install(exe, folder):
    """A copy of the program in a folder named in Chinese inside `folder`, with a settings
    line beside it, and an empty folder to start it from: (the copy, its folder, the other)."""
    home, elsewhere = os.path.join(folder, "程序"), os.path.join(folder, "elsewhere")
    for made in (home, elsewhere):
        os.makedirs(made)
    shutil.copy(exe, home)
    pathlib.Path(home, "quorvan.idx").write_bytes(STORED)
    os.utime(os.path.join(home, "quorvan.idx"), (0, 0))  # so that a save shows
    return os.path.join(home, os.path.basename(exe)), home, elsewhere


def start_and_show(args, started, folder, hosts, exact, locale, what):
    """Starts the program in `folder` under `locale`, waits for its calendar and forecast:
    (process, window id, area, the screen when the calendar came, its grid, seconds it took,
    the window's pixels with the forecast)."""
    env = dict(os.environ, PELLUMO_SEARCH_HOST=hosts, PELLUMO_ICON_HOST=hosts, PELLUMO_WINE_LOCALE=locale)
    program, wid, area = start(args, started, cwd=folder, env=env)
    appeared = time.monotonic()
    home = wait_for("the calendar", lambda: (s := Screen()).count(area, lambda p: p == COLOUR) > 200 and s,
                    timeout=30)
    delay = time.monotonic() - appeared
    grid = Grid(home, area)  # the panel's origin from the calendar drawn above it
    origin = grid.x - CALENDAR_ORIGIN[0] + PANEL_ORIGIN[0], grid.y - CALENDAR_ORIGIN[1] + PANEL_ORIGIN[1]
    if exact:  # the grid's glyphs place it within a pixel or two; the first icon exactly
        def settle(screen):
            first = ICONS[0][1]
            return max(((screen.count((origin[0] + dx, origin[1] + dy + 16, origin[0] + dx + 49, origin[1] + dy + 65),
                                      lambda p: p == first), (origin[0] + dx, origin[1] + dy))
                        for dx in range(-3, 4) for dy in range(-3, 4)))[1]
        screen = wait_for("the first icon", lambda: (s := Screen()).count(
            (origin[0] - 3, origin[1] + 13, origin[0] + 52, origin[1] + 68), lambda p: p == ICONS[0][1]) > 2000 and s,
            timeout=60, interval=0.3)
        origin = settle(screen)
    screen = wait_for(f"the forecast {what}", lambda: shows_forecast(s := Screen(), *origin, exact) and s,
                      timeout=60, interval=0.3)
    check(True, f"the three days and six icons at panel origin {origin} {what}")
    return program, wid, area, home, grid, delay, list(screen.rows(*area))


def open_menu(area):
    """Opens the popup menu by a right click on the calendar's ink (a click on black goes
    through the window) and waits until it has stopped changing."""
    rows = Screen().rows(*area)
    cx, cy = next((area[0] + x0, area[1] + y0) for y0, row in enumerate(rows)
                  for x0 in range(len(row) - 1) if row[x0] == row[x0 + 1] == COLOUR)
    x("xdotool", "windowfocus", "--sync", find_window()[0])
    x("xdotool", "mousemove", str(cx), str(cy), "click", "3")
    wait_for("the popup menu", lambda: Screen().count((cx, cy, cx + 60, cy + 60), lambda p: min(p) > 150) > 2000,
             timeout=20)
    menu, pictures = (cx, cy, cx + 200, cy + 300), []

    def stable():  # drawn to its end: two pictures in a row the same
        pictures.append(list(Screen().rows(*menu)))
        return len(pictures) > 1 and pictures[-1] == pictures[-2]
    wait_for("the menu drawn", stable, timeout=20)


def about_lines(area):
    """A picture of the About lines, which go straight onto the screen."""
    open_menu(area)
    x("xdotool", "key", "--delay", "100", "Up", "Return")  # the bottom item: About
    about = (SCREEN_W - 300, 245, SCREEN_W, 295)
    pictures = []

    def drawn():  # red, and two pictures in a row the same
        pictures.append(list((screen := Screen()).rows(*about)))
        return screen.count(about, lambda p: p == (255, 0, 0)) > 50 and len(pictures) > 1 and pictures[-1] == pictures[-2]
    wait_for("the About lines", drawn, timeout=20, interval=0.3)
    return pictures[-1]


def close_by_menu(program, area):
    """Close from the popup menu, so that the settings are saved."""
    open_menu(area)
    x("xdotool", "key", "--delay", "100", "Up", "Up", "Return")  # from the bottom: About, then Close
    wait_for("the program to end after Close", lambda: program.poll() is not None, timeout=30)


def run_checks(args, started, requests, port, exact, folder):
    # Kept in a folder named in Chinese and started from another, as Windows starts the
    # programs of the Run key, first on a Windows of another language (code page 1252), then
    # on a Chinese one: the settings and icons beside it, and the same look under both.
    args.exe, program_home, elsewhere = install(args.exe, folder)
    hosts = f"127.0.0.1:{port}"
    first, wid, area, home, grid, delay, english = start_and_show(
        args, started, elsewhere, hosts, exact, "en_US.UTF-8", "on the first start, under an English locale")
    _, wx, wy, ww, wh = find_window()
    check((wx, wy, ww, wh) == (SCREEN_W - 320, -15, 320, 450),
          f"window at x = screen width - 320, y = -15, 320 x 450 (got {wx}, {wy}, {ww} x {wh})")
    check(2.0 <= delay <= 15, f"the calendar in 0xC95E3F comes about 3 s after the window ({delay:.1f} s)")
    stray = home.count((wx, 21, wx + ww, grid.y + PANEL_ORIGIN[1]), lambda p: p != (0, 0, 0) and not is_ink(p))
    check(stray < 0.02 * home.count(area, is_ink), f"nothing in other colours below the frame ({stray} pixels)")
    if args.screenshot:
        subprocess.run(["import", "-window", "root", args.screenshot], check=True, timeout=30)
    time.sleep(1)  # anything still on its way would show up as an extra request
    cached = sorted(os.listdir(os.path.join(program_home, "picture")))
    check((len(cached) == len(ICONS) if exact else 1 <= len(cached) <= 6) and
          all(n[:2] in ("白天", "夜晚") for n in cached),
          f"the icons are cached beside the program under their GBK names ({cached})")
    asked = requests.take()
    # Each distinct icon crosses the network once: each of the six by its GIF name for the
    # scripted site, as many as the days name for another (two days may share an icon).
    icons = [r.split()[1] for r in asked[1:]]
    check(asked and asked[0].startswith("GET /s?bs=") and 1 <= len(icons) <= 6 and
          len(set(icons)) == len(icons) and all(i.startswith("/vip/baidu/imag/") for i in icons) and
          (not exact or sorted(icons) == sorted(f"/vip/baidu/imag/{n}.gif" for n, _ in ICONS)),
          f"the first start asks for the page and each of its icons once ({asked})")

    if exact:  # the scripted site's run takes the paths that do not depend on the site
        keys_and_second_start(args, first, wid, home, grid, wx, wy)
    english_about = about_lines(area) if exact else None  # the menu at a right click on ink, then About
    close_by_menu(first, area)
    check(first.returncode == 0, f"Close ends the program with exit code 0 (got {first.returncode})")
    path = os.path.join(program_home, "quorvan.idx")
    saved = pathlib.Path(path).read_bytes()
    check(saved == STORED and os.stat(path).st_mtime > 0 and os.listdir(elsewhere) == [],
          f"the line beside the program was applied and Close saved it there, nothing where it was started "
          f"(got {saved!r}, {os.listdir(elsewhere)})")
    attributes = int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16)
    check(attributes & 6 == 6, f"the file is hidden and system (attributes 0x{attributes:x})")
    # The About lines stay on the root window, and would show through the next window's
    # see-through black: a window mapped over them and gone again has the root repaint there.
    subprocess.run(["xmessage", "-geometry", f"330x90+{SCREEN_W - 330}+225", "-timeout", "1", "-"],
                   input=b" ", timeout=30, **QUIET)

    requests.take()
    program, _, area, _, _, _, chinese = start_and_show(args, started, elsewhere, hosts, exact, "zh_CN.UTF-8",
                                                        "on the next start, under the Chinese locale")
    time.sleep(2)
    again = requests.take()
    check(len(again) == 1 and again[0].startswith("GET /s?bs="),
          f"the next start, icons cached, makes one request only ({again})")
    differing = sum(a != b for ra, rb in zip(english, chinese) for a, b in zip(ra, rb))
    check(differing == 0, f"calendar and forecast look the same under both locales ({differing} pixels differ)")
    if exact:
        # The menu is drawn in the system's menu font, which Wine under en_US gives no Chinese
        # characters (Windows links its interface fonts to a Chinese one); its texts are checked
        # through the wide menu functions by the window's test under that locale instead.
        chinese_about = about_lines(area)
        # Where the lines cross the calendar's today line, its edge shades may differ once
        # redrawn; the calendar's own look is compared above.
        differing = sum(a != b and not (is_ink(a) and is_ink(b))
                        for ra, rb in zip(english_about, chinese_about) for a, b in zip(ra, rb))
        check(differing == 0, f"the About lines look the same under both locales ({differing} pixels differ)")
    close(program)


def keys_and_second_start(args, first, wid, home, grid, wx, wy):
    """Today's month, the keys that move it, and a second start while the first runs."""
    today = datetime.date.today()
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--exe", "--wine-run", "--prefix"):
        parser.add_argument(option, required=True, type=os.path.abspath)  # the program runs in a folder of its own
    parser.add_argument("--screenshot", help="where to save the first start's screenshot (PNG)")
    parser.add_argument("--server-command", help="starts the site instead of the scripted one; {port}, {icon_host}")
    args = parser.parse_args()
    if args.server_command and not shutil.which(shlex.split(args.server_command)[0]):
        print(f"SKIP the site's program is not built: {shlex.split(args.server_command)[0]}")
        return 77
    site = server = None
    requests = Requests()

    def log(stream):  # the service's access log: "... GET /target 200 ..."
        for line in stream:
            if found := re.search(r" (GET|HEAD) (\S+) \d{3} ", line):
                requests.append(f"{found.group(1)} {found.group(2)}")

    def checks(started):
        nonlocal site, server
        if args.server_command:
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
            site = subprocess.Popen(shlex.split(args.server_command.format(port=port, icon_host=f"127.0.0.1:{port}")),
                                    start_new_session=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            threading.Thread(target=log, args=(site.stdout,), daemon=True).start()
            wait_for(f"the site on port {port}", lambda: site.poll() is None and not socket.socket().connect_ex(
                ("127.0.0.1", port)), timeout=60)
        else:
            server, port = scripted_site(requests)
        with tempfile.TemporaryDirectory() as folder:
            run_checks(args, started, requests, port, not args.server_command, folder)
    try:
        return run_session(args, checks)
    finally:
        if server:
            server.shutdown()
        if site and site.poll() is None:
            os.killpg(site.pid, signal.SIGKILL)  # the site's whole session: nothing of it is kept
            site.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
