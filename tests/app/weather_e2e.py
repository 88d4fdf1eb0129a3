#!/usr/bin/env python3
"""The forecast end to end: pellumo-forecast on an ephemeral loopback port, the real program
under Wine on a private X server pointed at it, in a fresh current directory. The first start
fetches the page and six icons into the picture folder and draws the forecast; a second start,
with the icons cached, asks the service for the page alone. Every wait polls with a time-out,
and all that is started here is ended on every way out. Exit 0 when every check passed, 77
when the service has not been built (scripts/test-host.sh builds it).
"""

import argparse
import datetime
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCREEN_W, SCREEN_H = 1024, 768
QUIET = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
# Three days with six different icons, so that six files land in the picture folder.
ICONS = [("qing", "yin"), ("duoyun", "wu"), ("xiaoyu", "zhongyu")]


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


def weather_ink(window):
    """Pixels of the weather text colour (magenta 0xFF00FF, or an anti-aliased shade of it over
    black) in the lower part of the window, where the weather panel draws."""
    _, wx, wy, ww, wh = window
    left, top, right, bottom = max(wx, 0), max(wy + 240, 0), min(wx + ww, SCREEN_W), min(wy + wh, SCREEN_H)
    ppm = subprocess.run(["import", "-window", "root", "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                          "-depth", "8", "ppm:-"], check=True, capture_output=True, timeout=30).stdout
    header = re.match(rb"P6\s+\d+\s+\d+\s+255\s", ppm)
    pixels = ppm[header.end():]
    count = 0
    for i in range(0, len(pixels) - 2, 3):
        r, g, b = pixels[i], pixels[i + 1], pixels[i + 2]
        if min(r, b) >= 96 and g * 3 < min(r, b) and abs(r - b) * 6 < max(r, b):
            count += 1
    return count


def write_data(path):
    today = datetime.date.today()
    days = [{"date": (today + datetime.timedelta(i)).isoformat(), "condition": day, "night": night,
             "high": 20 + i, "low": 10 - i, "text": text, "wind": "微风"}
            for i, ((day, night), text) in enumerate(zip(ICONS, ["晴", "多云", "小雨"]))]
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"cities": [{"name": "北京", "days": days}]}, f, ensure_ascii=False)


def requests(log_path):
    with open(log_path, encoding="utf-8", errors="replace") as f:
        return [line for line in f if re.search(r" (GET|HEAD) /", line)]


def run_program(args, work, env, started, what):
    program = subprocess.Popen([args.wine_run, "--prefix", args.prefix, args.exe], cwd=work, env=env, **QUIET)
    started.append(program)
    window = wait_for(f"the window ({what})", find_window, timeout=180, interval=0.1)
    ink = wait_for(f"the forecast in the weather colour ({what})", lambda: (n := weather_ink(window)) > 80 and n,
                   timeout=90, interval=1)
    print(f"ok   {what}: the forecast is on screen ({ink} pixels of the weather colour)", flush=True)
    return program, window


def end_program(program, window):
    x("xdotool", "windowfocus", "--sync", window[0])
    x("xdotool", "key", "alt+F4")  # the system turns it into the window's destruction
    try:
        program.wait(timeout=30)
    except subprocess.TimeoutExpired:
        program.kill()
        program.wait(timeout=30)


def run_checks(args, work, started):
    data, log = os.path.join(work, "forecast.json"), os.path.join(work, "service.log")
    write_data(data)
    with open(log, "w") as log_file:
        started.append(subprocess.Popen([args.service, "--data", data, "--port", "0", "--default-city", "北京"],
                                        stdout=log_file, stderr=subprocess.STDOUT))
    host = wait_for("the service", lambda: (m := re.search(r"listening on http://(127\.0\.0\.1:\d+)",
                                                           open(log).read())) and m.group(1), timeout=10)
    env = dict(os.environ, PELLUMO_SEARCH_HOST=host, PELLUMO_ICON_HOST=host)
    program_dir = os.path.join(work, "program")
    os.makedirs(program_dir)

    program, window = run_program(args, program_dir, env, started, "first start")
    picture = os.path.join(program_dir, "picture")
    icons = wait_for("six icons in the picture folder",
                     lambda: len(gifs := [f for f in os.listdir(picture) if f.endswith(".gif")]) == 6 and gifs,
                     timeout=30)
    check(all(os.path.getsize(os.path.join(picture, f)) > 100 for f in icons),
          f"six icons in the picture folder: {' '.join(sorted(icons))}")
    first = requests(log)
    check(sum(" /vip/baidu/imag/" in line for line in first) == 6, "the first start fetched six icons")
    end_program(program, window)

    before = len(requests(log))
    program, window = run_program(args, program_dir, env, started, "second start")
    time.sleep(5)  # anything more it would ask for comes within the first seconds
    second = requests(log)[before:]
    check(len(second) == 1 and " GET /s?" in second[0],
          f"the second start, with the icons cached, made exactly one request: {''.join(second).strip()}")
    end_program(program, window)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--exe", "--wine-run", "--prefix", "--service"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    if not os.access(args.service, os.X_OK):
        print(f"{args.service} is not built; run scripts/test-host.sh first. Skipping.")
        return 77
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # ctest's time-out: clean up then too
    stop_wine = lambda: subprocess.run([args.wine_run, "--prefix", args.prefix, "--server", "-k"], timeout=60,
                                       **QUIET)
    stop_wine()  # a server left bound to another display would take the windows there
    started = []  # the X server, then the service and the programs
    work = tempfile.mkdtemp(prefix="pellumo-weather-e2e-")
    try:
        read_end, write_end = os.pipe()
        started.append(subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                         f"{SCREEN_W}x{SCREEN_H}x24", "-nolisten", "tcp", "-br"],
                                        pass_fds=(write_end,), **QUIET))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            os.environ["DISPLAY"] = ":" + pipe.readline().strip()
        check(os.environ["DISPLAY"] != ":", f"a private X server on {os.environ['DISPLAY']}")
        run_checks(args, work, started)
        return 0
    except Failure as failure:
        print(f"FAIL {failure}")
        return 1
    finally:
        for process in started[1:]:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=30)
        stop_wine()
        if started:
            started[0].terminate()
            started[0].wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
