#!/usr/bin/env python3
"""pellumo-forecast --source live against the stand-in upstream: what only the running service shows
(concurrency, the budget, restarts, hangs, logging once); the tables of answers are service_test's."""

import concurrent.futures, datetime, json, re, sys, tempfile, time
from service_proc import Service, check, fetch, query, wait_for
from upstream_standin import StandIn, daily

upstream, pool = StandIn(delay=0.3), concurrent.futures.ThreadPoolExecutor(200)


def live(*args):
    return Service(sys.argv[1], "--source", "live", "--geocoder", upstream.base, "--forecast-api", upstream.base, *args)


def page(city):  # b"" unless the connection ended in time
    return fetch(service.port, query(city), timeout=10)[2] or b""


def logged():
    service.log(0.05)
    return "\n".join(service.history)


def labels(high=21, offset=28800):
    """今天 M月D日 of a place `offset` s east of UTC, and today's temperatures, as the page writes them."""
    d = (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=offset)).date()
    return f"今天 {d.month}月{d.day}日".encode("gbk"), f"{high}℃～11℃".encode("gbk")


far = 14 * 3600 if datetime.datetime.now(datetime.timezone.utc).hour >= 11 else -12 * 3600  # not UTC's date
# One bad answer of each kind the service meets apart (a status, a body refused, a clock, a time limit):
# every way a body is refused is a row of service_test's.
BAD = {"HTTP 500": (500, b'{"error":true,"reason":"boom"}'), "a null": daily(highs=(35, None, 35)),
       "yesterday's dates": daily(first=-1), "a time-out": "hang"}
WORSE = [f"坏城{i}" for i in range(len(BAD))]  # each city's answer goes bad its own way
for latitude, (name, answer) in enumerate([("北京", daily()), ("远岛", daily(far)), ("朝阳", daily()), ("雾都", "hang"),
                                           ("上海", daily()), ("新城", BAD["HTTP 500"]),  # a body of 256 KiB, one more
                                           ("满城", (200, json.dumps(daily()).encode().ljust(256 * 1024))),
                                           ("溢城", (200, json.dumps(daily()).encode().ljust(256 * 1024 + 1)))]
                                          + [(name, daily()) for name in WORSE]):
    upstream.places[name], upstream.answers[latitude + 10.0] = latitude + 10.0, answer
TODAY, GOOD = labels()

with tempfile.TemporaryDirectory() as work:
    service = live("--places", f"{work}/places.json", "--upstream-timeout", "6")  # longer than a page waits
    check(f"geocoder {upstream.base}, forecast {upstream.base}" in service.lines[0], "the first line names upstreams")
    beijing = list(pool.map(page, ["北京"] * 200))
    check(all(GOOD in p and TODAY in p and "晴".encode("gbk") in p for p in beijing) and b"Open-Meteo" in beijing[0]
          and upstream.calls["search 北京"] == upstream.calls["forecast 10.00"] == 1,
          "200 concurrent requests for a new city all get its forecast, from one geocoder and one forecast call")
    page("北京")
    marks = re.findall(r" GET /s\?\S+ 200 \d+ \S+ (\w+)$", service.log(), re.M)
    check(len(marks) == 201 and "none" not in marks and "fresh" in marks and marks[-1] == "cache",
          "the access log marks fresh and cached pages")
    check(labels(offset=far)[0] in page("远岛"), "a far time zone gets its own today")
    check(b"al_wt" in page("朝阳区") and upstream.calls["search 朝阳区"] == upstream.calls["search 朝阳"] == 1,
          "a name ending in 区 that finds nothing is asked once without it")
    check(not any(b"al_wt" in page("火星市") for _ in range(2))
          and upstream.calls["search 火星市"] == upstream.calls["search 火星"] == 1, "an unknown name is asked for once")
    check(b"al_wt" in page("满城") and b"al_wt" not in page("溢城") + b"x",
          "an answer of 256 KiB is read, one a byte longer is not")
    page("宁"), page("Q")
    check(wait_for(lambda: upstream.calls["search 宁"] == 1) and upstream.calls["search Q"] == 0,
          "one character of two bytes is asked for, a single byte is not")
    hanging = pool.submit(fetch, service.port, query("雾都"), timeout=10)  # while its upstream hangs,
    time.sleep(0.2)
    took, _, shanghai = fetch(service.port, query("上海"))  # another new city is served
    check(took < 2 and b"al_wt" in shanghai, f"a hanging upstream delays no other city ({took:.1f} s)")
    took, _, fog = hanging.result()
    check(2.5 < took < 5 and fog and b"al_wt" not in fog, f"a hung city's page comes without forecast ({took:.1f} s)")
    check(wait_for(lambda: "雾都: forecast cannot be reached" in logged())
          and logged().count("火星市: the geocoder does not know") == 1, "unknown names and unreachable upstreams logged")
    service.stop()

    # A restart knows its places. A short period and time limit let each city go through its
    # answers side by side: good, bad its own way twice (logged once), good again.
    service = live("--places", f"{work}/places.json", "--refresh", "1", "--upstream-timeout", "1")
    check("places known from" in service.lines[0] and GOOD in page("北京") and b"al_wt" not in page("火星市")
          and upstream.calls["search 北京"] == upstream.calls["search 火星市"] == 1
          and upstream.calls["forecast 10.00"] == 2, "a restart asks the geocoder nothing it knew")

    def answered(answers, settle):
        calls = {name: upstream.calls[f"forecast {upstream.places[name]:.2f}"] for name in WORSE}
        upstream.answers.update((upstream.places[name], answer) for name, answer in zip(WORSE, answers))
        time.sleep(1.1)
        before = list(pool.map(page, WORSE))
        wait_for(lambda: all(upstream.calls[f"forecast {upstream.places[n]:.2f}"] > c for n, c in calls.items()))
        time.sleep(settle)
        return zip(BAD, before, list(pool.map(page, WORSE)))

    answered([daily()] * len(WORSE), 0)
    for attempt in (1, 2):
        for what, before, after in answered(BAD.values(), 1.5):
            check(GOOD in before and GOOD in after, f"{what} ({attempt}): the last good forecast is served")
    check(all(logged().count(f"{name}: forecast") == 1 for name in WORSE), "each problem is logged once")
    check(all(labels(25)[1] in after for *_, after in answered([daily(highs=(25, 25, 25))] * len(WORSE), 0.5))
          and logged().count(": answered again") == len(WORSE), "a good answer replaces the last good one")
    _, head, none = fetch(service.port, query("新城"))
    check(b"al_wt" not in none and "Cache-Control: no-store" in head and re.search(r" none$", logged(), re.M),
          "a bad first answer gives the page without a forecast, uncached")
    service.stop()

    calls = upstream.calls["search"] + upstream.calls["forecast"]
    service = live("--places", f"{work}/fresh.json", "--budget", "3")
    served = [b"al_wt" in page(city) for city in ("北京", "上海", "朝阳")]
    check(served == [True, False, False] and upstream.calls["search"] + upstream.calls["forecast"] - calls == 3
          and logged().count("the daily budget of 3 calls is spent") == 1, "the daily budget stops calls, said once")
    service.stop()
