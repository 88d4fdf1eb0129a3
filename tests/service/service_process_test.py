#!/usr/bin/env python3
"""pellumo-forecast as a process: options, first lines, the access log, a data file that changes,
breaks and goes away, signals, the icons it serves and the example nginx caching front."""

import datetime, http.client, json, os, re, shutil, signal, socket, subprocess, sys, tempfile, time
from service_proc import Service, check, fetch, query, wait_for

exe, front_conf = sys.argv[1], sys.argv[2]
BEIJING = query("北京")
sys.path.insert(0, os.path.dirname(os.path.dirname(front_conf)))
import make_icons  # noqa: E402


def icons(service):
    """Each icon served, decoded by ImageMagick, is its drawing: palette 0 (the only black) all round, ink
    on 10-70 % of it, and a night variant of its own."""
    convert = shutil.which("convert")
    for name in make_icons.ICONS if convert else print("skip icons: ImageMagick's convert is missing") or []:
        drawn = [make_icons.draw(name, night) for night in (False, True)]
        for variant, pixels in zip(("day", "night"), drawn):
            _, head, gif = fetch(service.port, f"/vip/baidu/imag/{variant}/{name}.gif")
            rgb = subprocess.run([convert, "gif:-", "-depth", "8", "rgb:-"], input=gif, capture_output=True,
                                 timeout=30).stdout
            ink = [make_icons.PALETTE[i] for row in pixels for i in row if i]
            check("image/gif\r\n" in head and "public, max-age=86400\r\n" in head and not pixels[0][0]
                  and rgb == b"".join(bytes(make_icons.PALETTE[i]) for row in pixels for i in row)
                  and (0, 0, 0) not in ink and 0.1 < len(ink) / make_icons.SIZE ** 2 < 0.7 and drawn[0] != drawn[1],
                  f"icon {variant}/{name} is its drawing")


def page_logged(service, city):
    page, log = fetch(service.port, query(city))[2], service.line()
    return b"al_wt" in page and re.search(r" GET /s\?wd=\S+ 200 %d \d+\.\dms$" % len(page), log) is not None


def front(service, work):
    """The committed nginx example on a free loopback port in front of `service`."""
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    if not os.access(nginx, os.X_OK):
        return print("skip nginx caching front: nginx is not installed")
    with socket.create_server(("127.0.0.1", 0)) as probe:
        port = probe.getsockname()[1]
    conf = open(front_conf).read().replace("server 127.0.0.1:8642;", f"server 127.0.0.1:{service.port};").replace(
        "listen 80;", f"listen 127.0.0.1:{port};").replace("/var/cache/nginx/pellumo-forecast", f"{work}/cache")
    temps = " ".join(f"{kind}_temp_path {work}/{kind};" for kind in
                     ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(f"{work}/nginx.conf", "w") as f:
        f.write(f"daemon off; master_process off; pid {work}/nginx.pid; error_log {work}/error.log; events {{}}\n"
                f"http {{ access_log off; {temps}\n{conf} }}\n")
    nginx_proc = subprocess.Popen([nginx, "-p", work, "-e", f"{work}/error.log", "-c", f"{work}/nginx.conf"])
    wait_for(lambda: nginx_proc.poll() is not None or socket.socket().connect_ex(("127.0.0.1", port)) == 0, 5)
    page, icon = f"/s?bs={BEIJING[6:]}&f=8&wd={BEIJING[6:]}", "/vip/baidu/imag/night/qing.gif"
    for path in (page, icon):
        first, second = fetch(port, path, "Keep-Alive"), fetch(port, path, "Keep-Alive")
        check(first[2] and first[2] == second[2] and "X-Cache-Status: MISS" in first[1]
              and "X-Cache-Status: HIT" in second[1], f"nginx: {path} is cached and each connection ends")
    seen = service.log()
    check(seen.count(f" GET {page} ") == 1 and seen.count(f" GET {icon} ") == 1, "nginx: the service sees each once")
    nginx_proc.terminate()
    nginx_proc.wait(timeout=10)


with tempfile.TemporaryDirectory() as work:
    demo = Service(exe, "--demo", "--icon-host", "icons.example.org")
    check("DEMO DATA" in demo.lines[0] and demo.icon_host == "icons.example.org", "demo mode says so first")
    # A HEAD between two GETs on one connection carries no body (which answers end it, the edge test sees).
    ask = http.client.HTTPConnection("127.0.0.1", demo.port, timeout=5)
    for method in ("GET", "HEAD", "GET"):
        ask.request(method, BEIJING)
        answer = ask.getresponse()
        check((answer.status, answer.getheader("Content-Type"), len(answer.read()) > 5000) ==
              (200, "text/html; charset=gbk", method == "GET"), f"{method} on one connection")
    icons(demo)
    demo.log()
    front(demo, work)
    demo.stop(signal.SIGINT)

    data = os.path.join(work, "data.json")

    def write_data(city):
        days = [{"date": (datetime.date.today() + datetime.timedelta(i)).isoformat(), "condition": "wu", "high": 9,
                 "low": 1, "text": "雾", "wind": "微风"} for i in range(3)]
        with open(data, "w", encoding="utf-8") as f:
            json.dump({"cities": [{"name": city, "days": days}]}, f, ensure_ascii=False)

    write_data("西宁")
    served = Service(exe, "--data", data)
    check("loaded 1 cities" in served.lines[0] and served.icon_host == f"127.0.0.1:{served.port}",
          "a data file is loaded and the icon host defaults to the listening address")
    check(page_logged(served, "西宁"), "data: serves and logs a forecast page")
    write_data("哈尔滨")
    check("reloaded 1 cities" in served.line(), "a changed data file is reloaded")
    for breakage, note in ((lambda: open(data, "w").write("{"), "not valid JSON"),
                           (lambda: os.remove(data), "missing")):
        breakage()
        check(served.line().endswith(f"{note}; keeping the last good data"), f"a data file {note} is reported")
    time.sleep(2.5)  # two more polls, which must say nothing: the next line is the access log's
    check(page_logged(served, "哈尔滨"), "the last good data is still served")

    # Every limit one step inside and one outside each end. Options taken run on to the listen,
    # which fails on the port in use (not shared): exit 1 rather than 2.
    taken = ["--demo", "--port", str(served.port)]
    limits = [("--port", 0, 65535), ("--idle-timeout", 1, 3600), ("--request-timeout", 1, 3600),
              ("--max-connections", 1, 1000000), ("--max-per-address", 1, 1000000), ("--backlog", 1, 65535),
              ("--threads", 1, 64), ("--max-head-bytes", 4096, 1 << 20), ("--max-header-fields", 1, 1000),
              ("--max-body-bytes", 0, 1 << 20)]
    rows = [(taken + [o for name, *ends in limits[1:] for o in (name, str(ends[end]))] + ["--icon-host", "h" * 32],
             1, f"cannot listen on 127.0.0.1:{served.port}") for end in (0, 1)]
    rows += [(taken + [name, str(value)], 2, f"{name} wants") for name, low, high in limits
             for value in (low - 1, high + 1)]
    for args, code, message in rows + [
        ([], 2, "give one of --demo, --data FILE and --source live"), (["--demo", "--data", data], 2, "give one of"),
        (["--demo", "--icon-host", "a b"], 2, "--icon-host wants"), (["--demo", "--icon-host", "h" * 33], 2, "wants"),
        (["--demo", "--default-city", "乌鲁木齐市郊区县"], 2, "--default-city"),
        (["--data", os.path.join(work, "none.json")], 1, "none.json: missing"),
        (["--demo", "--bogus"], 2, "unknown or incomplete option --bogus"),
    ]:
        done = subprocess.run([exe, "--port", "0"] + args, capture_output=True, timeout=10)
        check(done.returncode == code and message in done.stderr.decode(), f"{args} exits {code} saying why")
    served.stop()
