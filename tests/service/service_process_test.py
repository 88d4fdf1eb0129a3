#!/usr/bin/env python3
"""pellumo-forecast as a process: its options, its first lines, one access-log line per
request, and a clean stop on SIGINT and SIGTERM. Every wait is bounded.

Usage: service_process_test.py PELLUMO_FORECAST
"""

import datetime
import json
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import urllib.request

exe = sys.argv[1]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def read_line(proc, timeout=5.0):
    ready, _, _ = select.select([proc.stdout], [], [], timeout)
    return proc.stdout.readline().decode("utf-8", "replace").rstrip("\n") if ready else ""


def run_until_signal(args, stop_signal, request_city):
    proc = subprocess.Popen([exe, "--port", "0"] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            bufsize=0)  # unbuffered, so select sees every line that is not yet read
    try:
        lines = [read_line(proc), read_line(proc)]
        port = re.search(r"listening on http://127\.0\.0\.1:(\d+) \(icon host 127\.0\.0\.1:\1\)", "\n".join(lines))
        check(port is not None, f"{args[0]}: announces its ephemeral port and icon host")
        if port:
            url = f"http://127.0.0.1:{port.group(1)}/s?wd=%CC%EC%C6%F8%D4%A4%B1%A8+{request_city}"
            with urllib.request.urlopen(url, timeout=5) as answer:
                body = answer.read()
            check(b"al_wt" in body, f"{args[0]}: serves the forecast page")
            log = read_line(proc)
            check(re.search(r" GET /s\?wd=\S+ 200 %d \d+\.\dms$" % len(body), log) is not None,
                  f"{args[0]}: logs the request: {log}")
        proc.send_signal(stop_signal)
        code = proc.wait(timeout=10)
        rest = proc.stdout.read().decode()
        check(code == 0 and rest.rstrip().endswith("stopped"), f"{args[0]}: stops cleanly on {stop_signal.name}")
        return lines
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(timeout=10)


lines = run_until_signal(["--demo"], signal.SIGINT, "%B1%B1%BE%A9")
check("DEMO DATA" in lines[0], "demo mode says so on its first line")

with tempfile.TemporaryDirectory() as work:
    data = os.path.join(work, "data.json")
    today = datetime.date.today()
    days = [{"date": (today + datetime.timedelta(i)).isoformat(), "condition": "wu", "high": 9, "low": 1,
             "text": "雾", "wind": "微风"} for i in range(3)]
    with open(data, "w", encoding="utf-8") as f:
        json.dump({"cities": [{"name": "西宁", "days": days}]}, f, ensure_ascii=False)
    lines = run_until_signal(["--data", data], signal.SIGTERM, "%CE%F7%C4%FE")
    check("DEMO" not in "\n".join(lines) and "loaded 1 cities" in lines[0], "a data file is loaded and named")

    for args, code, message in [
        ([], 2, "give either --demo or --data"),
        (["--demo", "--data", data], 2, "give either"),
        (["--demo", "--port", "70000"], 2, "--port wants"),
        (["--demo", "--icon-host", "a b"], 2, "--icon-host wants"),
        (["--demo", "--default-city", "乌鲁木齐市郊区县"], 2, "--default-city"),
        (["--data", os.path.join(work, "none.json")], 1, "none.json: missing"),
        (["--demo", "--bogus"], 2, "unknown or incomplete option --bogus"),
    ]:
        done = subprocess.run([exe, "--port", "0"] + args, capture_output=True, timeout=10)
        check(done.returncode == code and message in done.stderr.decode(), f"{args} exits {code} saying why")

sys.exit(1 if failures else 0)
