#!/usr/bin/env python3
"""pellumo-forecast as a process: options, first lines, connections, the access log, a data
file that changes, breaks and goes away, a clean stop on SIGINT and SIGTERM, and the example
nginx caching front (skipped without nginx). Every wait is bounded.
Usage: service_process_test.py PELLUMO_FORECAST NGINX_EXAMPLE_CONF
"""

import atexit, datetime, http.client, json, os, re, select, shutil, signal, socket, subprocess, sys, tempfile, time

exe, front_conf = sys.argv[1], sys.argv[2]
WORDS = "%CC%EC%C6%F8%D4%A4%B1%A8+"  # 天气预报 and a blank
failures = []
children = []
atexit.register(lambda: [child.kill() for child in children if child.poll() is None])


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    failures.extend([] if ok else [what])


def fetch(port, path, connection="Keep-Alive", timeout=5):
    """Head and body of one GET; None unless the server ends the connection within `timeout` s."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost:127.0.0.1\r\nConnection:{connection}\r\n\r\n".encode())
        data = b""
        try:
            while chunk := s.recv(65536):
                data += chunk
        except socket.timeout:
            return None
    head, _, body = data.partition(b"\r\n\r\n")
    return head.decode("latin-1"), body


def ask(port, *requests):
    """(status, Content-Type, body) of each (method, target, body) request, on one connection."""
    connection, answers = http.client.HTTPConnection("127.0.0.1", port, timeout=5), []
    for method, target, body in requests:
        connection.request(method, target, body)
        answer = connection.getresponse()
        answers.append((answer.status, answer.getheader("Content-Type"), answer.read()))
    connection.close()
    return answers


class Service:
    def __init__(self, *args):
        self.proc = subprocess.Popen([exe, "--port", "0", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     bufsize=0)  # unbuffered, so select sees every line not yet read
        children.append(self.proc)
        self.lines = [self.line(), self.line()]
        found = re.search(r"listening on http://127\.0\.0\.1:(\d+) \(icon host (\S+)\)", self.lines[1])
        self.port, self.icon_host = (int(found.group(1)), found.group(2)) if found else (0, "")

    def line(self, timeout=5.0):
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        return self.proc.stdout.readline().decode("utf-8", "replace").rstrip("\n") if ready else ""

    def page_logged(self, city):
        """True when the city's forecast page comes back and the next line logs it."""
        (_, _, page), log = ask(self.port, ("GET", f"/s?wd={WORDS}{city}", None))[0], self.line()
        return b"al_wt" in page and re.search(r" GET /s\?wd=\S+ 200 %d \d+\.\dms$" % len(page), log) is not None

    def stop(self, stop_signal):
        self.proc.send_signal(stop_signal)
        check(self.proc.wait(timeout=10) == 0 and self.proc.stdout.read().decode().rstrip().endswith("stopped"),
              f"stops cleanly on {stop_signal.name}")


def front(service, work):
    """The committed nginx example on a free loopback port in front of `service`."""
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    if not os.access(nginx, os.X_OK):
        print("skip nginx caching front: nginx is not installed")
        return
    with socket.socket() as probe:  # a free port for nginx
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    with open(front_conf) as f:
        conf = f.read().replace("server 127.0.0.1:8642;", f"server 127.0.0.1:{service.port};").replace(
            "listen 80;", f"listen 127.0.0.1:{port};").replace("/var/cache/nginx/pellumo-forecast", f"{work}/cache")
    temps = " ".join(f"{kind}_temp_path {work}/{kind};"
                     for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(f"{work}/nginx.conf", "w") as f:
        f.write(f"daemon off; master_process off; pid {work}/nginx.pid; error_log {work}/error.log; events {{}}\n"
                f"http {{ access_log off; {temps}\n{conf} }}\n")
    nginx_proc = subprocess.Popen([nginx, "-p", work, "-e", f"{work}/error.log", "-c", f"{work}/nginx.conf"])
    children.append(nginx_proc)
    for _ in range(50):  # until it listens or ends
        if nginx_proc.poll() is not None or socket.socket().connect_ex(("127.0.0.1", port)) == 0:
            break
        time.sleep(0.1)
    if nginx_proc.poll() is not None:
        with open(f"{work}/error.log") as f:
            return check(False, "nginx starts: " + f.read())
    try:
        page, icon = f"/s?bs={WORDS}%C0%AD%C8%F8&f=8&wd={WORDS}%C0%AD%C8%F8", "/vip/baidu/imag/night/qing.gif"
        for path in (page, icon):
            first, second = fetch(port, path), fetch(port, path)
            check(first and second and "X-Cache-Status: MISS" in first[0] and "X-Cache-Status: HIT" in second[0]
                  and first[1] == second[1] and first[1], f"nginx: {path} is cached and each connection ends")
        bad = fetch(port, "/vip/baidu/imag/day/../../../etc/passwd")
        check(bad and bad[0].startswith("HTTP/1.1 404"), "nginx: a traversal is not found")
        seen = "\n".join(iter(lambda: service.line(0.5), ""))
        check(seen.count(f" GET {page} ") == 1 and seen.count(f" GET {icon} ") == 1,
              "nginx: the service sees each once")
    finally:
        nginx_proc.terminate()
        nginx_proc.wait(timeout=10)


with tempfile.TemporaryDirectory() as work:
    demo = Service("--demo", "--icon-host", "icons.example.org")
    check("DEMO DATA" in demo.lines[0] and demo.icon_host == "icons.example.org", "demo mode says so first")
    check(demo.page_logged("%B1%B1%BE%A9"), "demo: serves and logs a forecast page")
    # What the edge refuses, and one of each of ours, through the edge and into the log.
    for method, target, body, status, logged in (("GET", "/s?wd=" + "a" * 9000, None, 414, " 414 17 "),
                                                 ("BREW", "/s", None, 400, " BREW /s 400 "),
                                                 ("GET", "/s?wd=%ZZ", None, 400, " GET /s?wd=%ZZ 400 52 "),
                                                 ("POST", "/s", "abc", 405, " POST /s 405 ")):
        (got, _, answer), log = ask(demo.port, (method, target, body))[0], demo.line()
        check(got == status and len(answer) < 100 and logged in log, f"{method} {target[:12]}: {got}, logged {log}")
    # A forecast page keeps its connection, with a HEAD between two GETs carrying no body; what
    # the program reads to the end (an icon, a page without the forecast) ends it.
    page = f"/s?bs={WORDS}%B1%B1%BE%A9&f=8&wd={WORDS}%B1%B1%BE%A9"
    check(fetch(demo.port, page, timeout=1) is None, "a forecast page keeps the connection")
    get, head, again = ask(demo.port, ("GET", page, None), ("HEAD", page, None), ("GET", page, None))
    check(get == again and get[:2] == (200, "text/html; charset=gbk") and head[::2] == (200, b""), "HEAD between GETs")
    for path in ("/vip/baidu/imag/night/leizhenyu.gif", f"/s?wd={WORDS}Atlantis"):
        answer = fetch(demo.port, path)
        check(answer and answer[0].startswith("HTTP/1.1 200"), f"{path} ends its connection")
    "".join(iter(lambda: demo.line(0.5), ""))  # skips the access log of the requests above
    front(demo, work)
    demo.stop(signal.SIGINT)

    data = os.path.join(work, "data.json")

    def write_data(city):
        today = datetime.date.today()
        days = [{"date": (today + datetime.timedelta(i)).isoformat(), "condition": "wu", "high": 9, "low": 1,
                 "text": "雾", "wind": "微风"} for i in range(3)]
        with open(data, "w", encoding="utf-8") as f:
            json.dump({"cities": [{"name": city, "days": days}]}, f, ensure_ascii=False)

    write_data("西宁")
    served = Service("--data", data)
    check("loaded 1 cities" in served.lines[0] and served.icon_host == f"127.0.0.1:{served.port}",
          "a data file is loaded and the icon host defaults to the listening address")
    check(served.page_logged("%CE%F7%C4%FE"), "data: serves and logs a forecast page")
    write_data("哈尔滨")
    check("reloaded 1 cities" in served.line(), "a changed data file is reloaded")
    for breakage, note in ((lambda: open(data, "w").write("{"), "not valid JSON"),
                           (lambda: os.remove(data), "missing")):
        breakage()
        check(served.line().endswith(f"{note}; keeping the last good data"), f"a data file {note} is reported")
    time.sleep(2.5)  # two more polls, which must say nothing: the next line is the access log's
    check(served.page_logged("%B9%FE%B6%FB%B1%F5"), "the last good data is still served")

    # Every limit one step inside and one outside each end. Options taken run on to the listen,
    # which fails on the port in use (not shared): exit 1 rather than 2.
    taken = ["--demo", "--port", str(served.port)]
    limits = [("--port", 0, 65535), ("--idle-timeout", 1, 3600), ("--request-timeout", 1, 3600),
              ("--max-connections", 1, 1000000), ("--max-per-address", 1, 1000000), ("--backlog", 1, 65535),
              ("--threads", 1, 64), ("--max-head-bytes", 4096, 1 << 20), ("--max-header-fields", 1, 1000),
              ("--max-body-bytes", 0, 1 << 20)]
    rows = [(taken + [o for name, *ends in limits[1:] for o in (name, str(ends[end]))] + ["--icon-host", "h" * 32],
             1, f"cannot listen on 127.0.0.1:{served.port}") for end in (0, 1)]
    rows += [(taken + [name, str(value)], 2, f"{name} wants")
             for name, low, high in limits for value in (low - 1, high + 1)]
    for args, code, message in rows + [
        ([], 2, "give one of --demo, --data FILE and --source live"),
        (["--demo", "--data", data], 2, "give one of"),
        (["--demo", "--icon-host", "a b"], 2, "--icon-host wants"),
        (["--demo", "--icon-host", "h" * 33], 2, "--icon-host wants"),
        (["--demo", "--default-city", "乌鲁木齐市郊区县"], 2, "--default-city"),
        (["--data", os.path.join(work, "none.json")], 1, "none.json: missing"),
        (["--demo", "--bogus"], 2, "unknown or incomplete option --bogus"),
    ]:
        done = subprocess.run([exe, "--port", "0"] + args, capture_output=True, timeout=10)
        check(done.returncode == code and message in done.stderr.decode(), f"{args} exits {code} saying why")
    served.stop(signal.SIGTERM)

sys.exit(1 if failures else 0)
