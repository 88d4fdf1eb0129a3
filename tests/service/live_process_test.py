#!/usr/bin/env python3
"""pellumo-forecast --source live as a process, against the stand-in upstream on loopback:
the first line, one upstream call per city under 200 concurrent requests, a far time zone's
own today, the 市/县/区 retry and unknown names, a hanging upstream that delays no other city,
a restart that asks the geocoder nothing it knew, every bad answer giving the last good
forecast or none, and the daily budget. Every wait is bounded.
Usage: live_process_test.py PELLUMO_FORECAST
"""

import atexit, concurrent.futures, datetime, http.client, os, re, select, signal, socket, subprocess, sys, tempfile, time
import json, urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from upstream_standin import StandIn, daily, place  # noqa: E402

exe = sys.argv[1]
failures, children = [], []
atexit.register(lambda: [child.kill() for child in children if child.poll() is None])


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    failures.extend([] if ok else [what])


def gbk(text):
    return text.encode("gbk")


def day_label(offset):
    """今天 M月D日 of a place `offset` seconds east of UTC, as the page writes it."""
    d = (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=offset)).date()
    return gbk("今天") + f" {d.month}".encode() + gbk("月") + f"{d.day}".encode() + gbk("日")


def temperatures(high, low):
    return f"{high}".encode() + gbk("℃～") + f"{low}".encode() + gbk("℃")


class Service:
    def __init__(self, *args):
        self.proc = subprocess.Popen([exe, "--port", "0", "--source", "live", "--geocoder", upstream.base,
                                      "--forecast-api", upstream.base, "--upstream-timeout", "3", *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, bufsize=0)
        children.append(self.proc)
        self.lines = [self.line(), self.line()]
        found = re.search(r"listening on http://127\.0\.0\.1:(\d+)", self.lines[1])
        self.port = int(found.group(1)) if found else 0

    def line(self, timeout=5.0):
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        return self.proc.stdout.readline().decode("utf-8", "replace").rstrip("\n") if ready else ""

    def log(self, quiet=0.5):
        return "\n".join(iter(lambda: self.line(quiet), ""))

    def page(self, city, timeout=10):
        """(seconds taken, body) of the program's query for `city`; the body is None unless the
        server answered and ended the connection, or kept it open after a whole forecast page."""
        path = "/s?wd=" + urllib.parse.quote(gbk("天气预报 " + city)).replace("%20", "+")
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            s.sendall(f"GET {path} HTTP/1.1\r\nHost:x\r\nConnection:close\r\n\r\n".encode())
            data = b""
            try:
                while chunk := s.recv(65536):
                    data += chunk
            except socket.timeout:
                data = b""
        return time.monotonic() - start, data.partition(b"\r\n\r\n")[2] or None

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        check(self.proc.wait(timeout=15) == 0, "stops cleanly")


def wait_for(condition, seconds=6.0):
    end = time.monotonic() + seconds
    while not condition() and time.monotonic() < end:
        time.sleep(0.05)
    return condition()


upstream = StandIn(delay=0.3)
atexit.register(upstream.stop)
now = datetime.datetime.now(datetime.timezone.utc)
far_offset = 14 * 3600 if now.hour >= 11 else -12 * 3600  # a date other than UTC's, an hour from its edges
for name, latitude, answer in (("北京", 39.9, daily(28800)), ("远岛", 1.87, daily(far_offset)),
                               ("朝阳", 41.57, daily(28800)), ("雾都", 29.56, "hang"), ("上海", 31.23, daily(28800)),
                               ("新城", 22.5, (500, b'{"error":true,"reason":"boom"}')),
                               # answers of the 256 KiB a body may take, and one byte more
                               ("满城", 11.1, (200, json.dumps(daily(28800)).encode().ljust(256 * 1024))),
                               ("溢城", 11.2, (200, json.dumps(daily(28800)).encode().ljust(256 * 1024 + 1)))):
    upstream.places[name] = [place(name, latitude)]
    upstream.answers[latitude] = answer
good_beijing = temperatures(21, 11)

with tempfile.TemporaryDirectory() as work:
    places = os.path.join(work, "places.json")
    live = Service("--places", places)
    check(f"geocoder {upstream.base}, forecast {upstream.base}" in live.lines[0] and live.port,
          "the first line names the upstream addresses: " + live.lines[0])

    with concurrent.futures.ThreadPoolExecutor(200) as pool:
        pages = list(pool.map(lambda _: live.page("北京")[1], range(200)))
    check(all(p and good_beijing in p and day_label(28800) in p and gbk("晴") in p for p in pages),
          "200 concurrent requests for a new city all get its forecast")
    check(upstream.count("search 北京") == 1 and upstream.count("forecast 39.90") == 1,
          "... from one geocoder and one forecast call")
    live.page("北京")
    marks = re.findall(r" GET /s\?\S+ 200 \d+ \S+ (\w+)$", live.log(), re.M)
    check(len(marks) == 201 and "none" not in marks and "fresh" in marks and marks[-1] == "cache",
          "the access log marks fresh and cached pages")
    check(b"Open-Meteo" in pages[0], "the page names its source")

    _, far = live.page("远岛")
    check(far and day_label(far_offset) in far, "a far time zone gets its own today")

    _, retried = live.page("朝阳区")
    check(retried and gbk("朝阳区") in retried and b"al_wt" in retried
          and upstream.count("search 朝阳区") == 1 and upstream.count("search 朝阳") == 1,
          "a name ending in 区 that finds nothing is asked once without it")
    for _ in range(2):
        _, unknown = live.page("火星市")
        check(unknown and b"al_wt" not in unknown and upstream.count("search 火星市") == 1
              and upstream.count("search 火星") == 1, "an unknown name is asked for once")
    check(b"al_wt" in (live.page("满城")[1] or b"") and b"al_wt" not in (live.page("溢城")[1] or b"al_wt"),
          "an answer of 256 KiB is read, one a byte longer is not")
    live.page("宁"), live.page("Q")
    check(wait_for(lambda: upstream.count("search 宁") == 1) and upstream.count("search Q") == 0,
          "one character of two bytes is asked for, a single byte is not")

    # One city's upstream hangs; another new city is served meanwhile.
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        hanging = pool.submit(live.page, "雾都")
        time.sleep(0.2)
        took, shanghai = live.page("上海")
        check(took < 2 and shanghai and b"al_wt" in shanghai, f"a hanging upstream delays no other city ({took:.1f} s)")
        took, fog = hanging.result()
        check(2.5 < took < 5 and fog and b"al_wt" not in fog,
              f"a city whose upstream hangs gets the page without a forecast in time ({took:.1f} s)")
    time.sleep(3)  # the hung call's own time limit
    log = live.log()
    check(log.count("火星市: the geocoder does not know") == 1 and "雾都: forecast cannot be reached" in log,
          "unknown names and unreachable forecasts are logged")
    live.stop()

    # A restart knows its places; a short period lets every bad answer be tried in turn.
    live = Service("--places", places, "--refresh", "1")
    _, first = live.page("北京")
    check("places known from" in live.lines[0] and first and good_beijing in first
          and upstream.count("search 北京") == 1 and upstream.count("forecast 39.90") == 2,
          "a restart asks the geocoder nothing it knew")

    def spoiled(change):
        body = daily(28800, highs=(35, 35, 35))
        change(body)
        return body

    bad_answers = [
        ("HTTP 500", (500, b'{"error":true,"reason":"boom"}')),
        ("HTTP 500 again", (500, b'{"error":true,"reason":"boom"}')),
        ("not JSON", (200, b"<html>busy</html>")),
        ("no daily", spoiled(lambda b: b.pop("daily"))),
        ("a short array", spoiled(lambda b: b["daily"].update(temperature_2m_max=[35, 35]))),
        ("a null", spoiled(lambda b: b["daily"]["temperature_2m_min"].__setitem__(1, None))),
        ("yesterday's dates", daily(28800, highs=(35, 35, 35), first=-1)),
        ("an absurd number", daily(28800, highs=(135, 35, 35))),
        ("a time-out", "hang"),
    ]
    for what, answer in bad_answers:
        upstream.answers[39.9] = answer
        calls = upstream.count("forecast 39.90")
        time.sleep(1.1)
        _, before = live.page("北京")
        wait_for(lambda: upstream.count("forecast 39.90") > calls)
        time.sleep(3.5 if answer == "hang" else 0.5)
        _, after = live.page("北京")
        check(before and after and good_beijing in before and good_beijing in after,
              f"{what}: the last good forecast is served")
    log = live.log()
    check(log.count("北京: forecast: HTTP 500: boom; serving its last good forecast") == 1
          and log.count("北京: forecast") == len(bad_answers) - 1, "each change of problem is logged once")
    upstream.answers[39.9] = daily(28800, highs=(25, 25, 25))
    time.sleep(1.1)
    live.page("北京")
    check(wait_for(lambda: temperatures(25, 11) in (live.page("北京")[1] or b"")), "a good answer replaces it")
    connection = http.client.HTTPConnection("127.0.0.1", live.port, timeout=10)
    connection.request("GET", "/s?wd=" + urllib.parse.quote(gbk("天气预报 新城")))
    none = connection.getresponse()
    check(none.status == 200 and b"al_wt" not in none.read() and none.getheader("Cache-Control") == "no-store"
          and re.search(r" none$", live.log(), re.M), "a bad first answer gives the page without a forecast, uncached")
    live.stop()

    calls = upstream.count("search") + upstream.count("forecast")
    live = Service("--places", os.path.join(work, "fresh.json"), "--budget", "3")
    pages = [live.page(city)[1] for city in ("北京", "上海", "朝阳")]
    check(b"al_wt" in pages[0] and not any(b"al_wt" in p for p in pages[1:])
          and upstream.count("search") + upstream.count("forecast") - calls == 3,
          "the daily budget stops the upstream calls")
    check(live.log().count("the daily budget of 3 calls is spent") == 1, "... and says so once")
    live.stop()

sys.exit(1 if failures else 0)
