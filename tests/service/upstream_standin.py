#!/usr/bin/env python3
"""A stand-in for Open-Meteo's geocoder and daily forecast on loopback, counting its calls. Run alone it
knows every name and place, prints its port, serves the counts at /calls and ends after --lifetime s."""

import argparse, collections, datetime, http.server, json, threading, time, urllib.parse, zlib


def daily(offset=28800, highs=(21.4, 18.5, -0.5), first=0):  # for a place `offset` s east of UTC
    today = (datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=offset)).date()
    return {"utc_offset_seconds": offset, "timezone": "GMT",
            "daily": {"time": [(today + datetime.timedelta(first + i)).isoformat() for i in range(3)],
                      "weather_code": [0, 63, 95], "temperature_2m_max": list(highs),
                      "temperature_2m_min": [10.5, 9.0, -3.5], "wind_speed_10m_max": [10.0, 25.0, 62.0],
                      "wind_direction_10m_dominant": [0, 315, 180]}}


class StandIn(http.server.ThreadingHTTPServer):
    """places: name -> latitude (else unknown); answers: latitude -> a body, (status, bytes) or "hang"."""
    daemon_threads = True

    def __init__(self, auto=False, delay=0.0):
        super().__init__(("127.0.0.1", 0), Handler)
        self.places, self.answers, self.auto, self.delay = {}, {}, auto, delay
        self.calls, self.lock, self.stopping = collections.Counter(), threading.Lock(), threading.Event()
        self.base = f"http://127.0.0.1:{self.server_address[1]}"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def handle_error(self, request, address):  # a client gone before its answer
        pass


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        s, url = self.server, urllib.parse.urlsplit(self.path)
        kind, query = url.path.rpartition("/")[2], dict(urllib.parse.parse_qsl(url.query))
        key = query.get("name") or "%.2f" % float(query.get("latitude", "nan"))
        with s.lock:
            s.calls.update([kind, f"{kind} {key}"] if kind in ("search", "forecast") else [])
            answer = (200, json.dumps(s.calls).encode())
        time.sleep(s.delay if kind in ("search", "forecast") else 0)
        if kind == "search":
            latitude = s.places.get(key, zlib.crc32(key.encode()) % 5000 / 100 if s.auto else None)
            found = {"results": [{"name": key, "latitude": latitude, "longitude": 100.0, "country_code": "CN",
                                  "population": 1000000}]} if latitude is not None else {}
            answer = (200, json.dumps(found, ensure_ascii=False).encode())
        elif kind == "forecast":
            answer = s.answers.get(float(key), daily() if s.auto else (404, b"{}"))
            if answer == "hang":
                s.stopping.wait(60)
            answer = answer if isinstance(answer, tuple) else (200, json.dumps(answer).encode())
        self.send_response(answer[0])
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(answer[1])))
        self.end_headers()
        self.wfile.write(answer[1])

    def log_message(self, *args):
        pass


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--lifetime", type=float, default=600)
    standin = StandIn(auto=True)
    print("port", standin.server_address[1], flush=True)
    standin.stopping.wait(parser.parse_args().lifetime)
