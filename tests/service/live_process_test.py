#!/usr/bin/env python3
"""pellumo-forecast --source live as a process, against the stand-in upstream on loopback.
Usage: live_process_test.py PELLUMO_FORECAST"""

import atexit, concurrent.futures, datetime, json, os, re, sys, tempfile, time
from service_proc import Service, check, fetch, finish, query
from upstream_standin import StandIn, daily

upstream = StandIn(delay=0.3)
atexit.register(upstream.stop)


def live(*args):
    return Service(sys.argv[1], "--source", "live", "--geocoder", upstream.base, "--forecast-api", upstream.base, *args)


def page(city, timeout=10):
    """(seconds, body) of the program's query for `city`; the body b"" unless the connection ended in time."""
    took, _, body = fetch(service.port, query(city), timeout=timeout)
    return took, body or b""


def day_label(offset):
    """今天 M月D日 of a place `offset` s east of UTC, as the page writes it."""
    d = (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=offset)).date()
    return f"今天 {d.month}月{d.day}日".encode("gbk")


def wait_for(condition, seconds=6.0):
    end = time.monotonic() + seconds
    while not condition() and time.monotonic() < end:
        time.sleep(0.05)
    return condition()


def logged():
    service.log(0.05)
    return "\n".join(service.history)


def temperatures(high, low):
    return f"{high}℃～{low}℃".encode("gbk")


now = datetime.datetime.now(datetime.timezone.utc)
far = 14 * 3600 if now.hour >= 11 else -12 * 3600  # a date other than UTC's, an hour from its edges
BAD = {"HTTP 500": (500, b'{"error":true,"reason":"boom"}'), "not JSON": (200, b"<html>busy</html>"),
       "no daily": {"utc_offset_seconds": 28800}, "a short array": dict(daily(28800), daily={}),
       "a null": json.loads(json.dumps(daily(28800)).replace("18.5", "null")),
       "yesterday's dates": daily(28800, first=-1), "an absurd number": daily(28800, highs=(135, 35, 35)),
       "a time-out": "hang"}
BAD["a short array"]["daily"] = dict(daily(28800)["daily"], temperature_2m_max=[35, 35])
cities = [("北京", 39.9, daily(28800)), ("远岛", 1.87, daily(far)), ("朝阳", 41.57, daily(28800)),
          ("雾都", 29.56, "hang"), ("上海", 31.23, daily(28800)), ("新城", 22.5, BAD["HTTP 500"]),
          # answers of the 256 KiB a body may take, and one byte more
          ("满城", 11.1, (200, json.dumps(daily(28800)).encode().ljust(256 * 1024))),
          ("溢城", 11.2, (200, json.dumps(daily(28800)).encode().ljust(256 * 1024 + 1)))]
cities += [(f"坏城{i}", 50.0 + i, daily(28800)) for i in range(len(BAD))]
for name, latitude, answer in cities:
    upstream.places[name], upstream.answers[latitude] = latitude, answer
GOOD = temperatures(21, 11)

with tempfile.TemporaryDirectory() as work:
    places = os.path.join(work, "places.json")
    service = live("--places", places, "--upstream-timeout", "3")
    check(f"geocoder {upstream.base}, forecast {upstream.base}" in service.lines[0] and service.port,
          "the first line names the upstream addresses: " + service.lines[0])
    with concurrent.futures.ThreadPoolExecutor(200) as pool:
        pages = list(pool.map(lambda _: page("北京")[1], range(200)))
    check(all(GOOD in p and day_label(28800) in p and "晴".encode("gbk") in p for p in pages) and b"Open-Meteo" in pages[0]
          and upstream.count("search 北京") == 1 and upstream.count("forecast 39.90") == 1,
          "200 concurrent requests for a new city all get its forecast, from one geocoder and one forecast call")
    page("北京")
    marks = re.findall(r" GET /s\?\S+ 200 \d+ \S+ (\w+)$", service.log(), re.M)
    check(len(marks) == 201 and "none" not in marks and "fresh" in marks and marks[-1] == "cache",
          "the access log marks fresh and cached pages")
    check(day_label(far) in page("远岛")[1], "a far time zone gets its own today")
    check(b"al_wt" in page("朝阳区")[1] and upstream.count("search 朝阳区") == upstream.count("search 朝阳") == 1,
          "a name ending in 区 that finds nothing is asked once without it")
    check(not any(b"al_wt" in page("火星市")[1] for _ in range(2))
          and upstream.count("search 火星市") == upstream.count("search 火星") == 1, "an unknown name is asked for once")
    check(b"al_wt" in page("满城")[1] and b"al_wt" not in page("溢城")[1] + b"x",
          "an answer of 256 KiB is read, one a byte longer is not")
    page("宁"), page("Q")
    check(wait_for(lambda: upstream.count("search 宁") == 1) and upstream.count("search Q") == 0,
          "one character of two bytes is asked for, a single byte is not")
    # One city's upstream hangs; another new city is served meanwhile.
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        hanging = pool.submit(page, "雾都")
        time.sleep(0.2)
        took, shanghai = page("上海")
        check(took < 2 and b"al_wt" in shanghai, f"a hanging upstream delays no other city ({took:.1f} s)")
        took, fog = hanging.result()
        check(2.5 < took < 5 and fog and b"al_wt" not in fog, f"a hung city's page comes without forecast ({took:.1f} s)")
    check(wait_for(lambda: "雾都: forecast cannot be reached" in logged()) and logged().count("火星市: the geocoder does not know") == 1,
          "unknown names and unreachable forecasts are logged")
    service.stop()

    # A restart knows its places. Each city's answer then goes bad its own way, twice (logged
    # once), and good again; a short period and time limit let every city go through at once.
    service = live("--places", places, "--refresh", "1", "--upstream-timeout", "1")
    check("places known from" in service.lines[0] and GOOD in page("北京")[1]
          and upstream.count("search 北京") == 1 and upstream.count("forecast 39.90") == 2,
          "a restart asks the geocoder nothing it knew")
    names = [name for name, *_ in cities[-len(BAD):]]
    with concurrent.futures.ThreadPoolExecutor(len(names)) as pool:
        def each(answers, settle):
            for name, answer in zip(names, answers):
                upstream.answers[upstream.places[name]] = answer
            calls = [upstream.count("forecast %.2f" % upstream.places[name]) for name in names]
            time.sleep(1.1)
            served = list(pool.map(lambda name: page(name)[1], names))
            wait_for(lambda: all(upstream.count("forecast %.2f" % upstream.places[n]) > c for n, c in zip(names, calls)))
            time.sleep(settle)
            return served + list(pool.map(lambda name: page(name)[1], names))

        each([daily(28800)] * len(names), 0)
        for attempt in range(2):
            served = each(BAD.values(), 1.5)
            for what, before, after in zip(BAD, served, served[len(names):]):
                check(GOOD in before and GOOD in after, f"{what} ({attempt}): the last good forecast is served")
        check(all(logged().count(f"{name}: forecast") == 1 for name in names), "each problem is logged once")
        served = each([daily(28800, highs=(25, 25, 25))] * len(names), 0.5)
        check(all(temperatures(25, 11) in p for p in served[len(names):])
              and logged().count(": answered again") == len(names), "a good answer replaces the last good one")
    took, head, none = fetch(service.port, query("新城"))
    check(b"al_wt" not in none and "Cache-Control: no-store" in head and re.search(r" none$", logged(), re.M),
          "a bad first answer gives the page without a forecast, uncached")
    service.stop()

    calls = upstream.count("search") + upstream.count("forecast")
    service = live("--places", os.path.join(work, "fresh.json"), "--budget", "3")
    pages = [page(city)[1] for city in ("北京", "上海", "朝阳")]
    check(b"al_wt" in pages[0] and not any(b"al_wt" in p for p in pages[1:])
          and upstream.count("search") + upstream.count("forecast") - calls == 3, "the daily budget stops the upstream calls")
    check(logged().count("the daily budget of 3 calls is spent") == 1, "... and says so once")
    service.stop()
finish()
