#!/usr/bin/env python3
"""A stand-in for Open-Meteo's geocoder (/v1/search) and daily forecast (/v1/forecast) on
127.0.0.1, answering in the documented shapes, counting the calls, and able to be slow, hang
or answer wrongly. Imported by the tests; run alone (for the benchmark) it answers any name
with a place in China and any place with a fair forecast, prints its port, serves the counts
at /calls, and ends by itself after --lifetime seconds.
"""

import argparse, collections, datetime, http.server, json, threading, time, urllib.parse, zlib


def daily(offset, codes=(0, 63, 95), highs=(21.4, 18.5, -0.5), lows=(10.5, 9.0, -3.5), winds=(10.0, 25.0, 62.0),
          directions=(0, 315, 180), first=0):
    """A forecast body for a place `offset` seconds east of UTC, its today first (plus `first` days)."""
    today = (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=offset)).date()
    return {"latitude": 0, "longitude": 0, "generationtime_ms": 0.1, "utc_offset_seconds": offset,
            "timezone": "GMT", "timezone_abbreviation": "GMT", "elevation": 10,
            "daily_units": {"time": "iso8601", "weather_code": "wmo code", "temperature_2m_max": "°C",
                            "temperature_2m_min": "°C", "wind_speed_10m_max": "km/h",
                            "wind_direction_10m_dominant": "°"},
            "daily": {"time": [(today + datetime.timedelta(days=first + i)).isoformat() for i in range(3)],
                      "weather_code": list(codes), "temperature_2m_max": list(highs),
                      "temperature_2m_min": list(lows), "wind_speed_10m_max": list(winds),
                      "wind_direction_10m_dominant": list(directions)}}


def place(name, latitude, longitude=100.0, country="CN", population=1000000):
    return {"id": 1, "name": name, "latitude": latitude, "longitude": longitude, "elevation": 50,
            "feature_code": "PPLA", "country_code": country, "timezone": "Asia/Shanghai",
            "population": population, "country": "中国", "admin1": "x"}


class StandIn:
    """places: UTF-8 name -> list of matches (absent: no match). answers: latitude -> what the
    forecast of that place answers: a dict (the body), (status, bytes), or "hang". Any name or
    latitude not set is answered as `auto` says: a place / a fair forecast, or nothing."""

    def __init__(self, auto=False, delay=0.0):
        self.places, self.answers, self.auto, self.delay = {}, {}, auto, delay
        self.calls = collections.Counter()
        self.lock, self.stopping = threading.Lock(), threading.Event()
        standin = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                query = dict(urllib.parse.parse_qsl(url.query))
                if url.path == "/calls":
                    with standin.lock:
                        return self.send(200, json.dumps(dict(standin.calls)).encode())
                if url.path == "/v1/search":
                    name = query.get("name", "")
                    with standin.lock:
                        standin.calls["search"] += 1
                        standin.calls["search " + name] += 1
                    time.sleep(standin.delay)
                    found = standin.places.get(name)
                    if found is None and standin.auto:
                        found = [place(name, zlib.crc32(name.encode()) % 5000 / 100)]
                    body = {"results": found, "generationtime_ms": 0.2} if found else {"generationtime_ms": 0.2}
                    return self.send(200, json.dumps(body, ensure_ascii=False).encode())
                if url.path == "/v1/forecast":
                    latitude = float(query.get("latitude", "nan"))
                    with standin.lock:
                        standin.calls["forecast"] += 1
                        standin.calls["forecast %.2f" % latitude] += 1
                    answer = standin.answers.get(round(latitude, 2), daily(28800) if standin.auto else (404, b"{}"))
                    time.sleep(standin.delay)
                    if answer == "hang":
                        standin.stopping.wait(60)
                        return self.send(200, b"{}")
                    if isinstance(answer, dict):
                        answer = (200, json.dumps(answer).encode())
                    return self.send(*answer)
                self.send(404, b'{"error":true,"reason":"Not Found"}')

            def send(self, status, body):
                try:
                    self.send_response(status)
                    self.send_header("Content-Type", "application/json; charset=utf-8")
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)
                except OSError:
                    pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.base = f"http://127.0.0.1:{self.port}"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def count(self, key):
        with self.lock:
            return self.calls[key]

    def stop(self):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--lifetime", type=float, default=600)
    args = parser.parse_args()
    standin = StandIn(auto=True)
    print(f"port {standin.port}", flush=True)
    try:
        standin.stopping.wait(args.lifetime)
    except KeyboardInterrupt:
        pass
    standin.stop()
