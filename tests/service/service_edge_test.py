#!/usr/bin/env python3
"""pellumo-forecast's HTTP edge against slow, idle, bursty, smuggling and pipelining clients."""

import asyncio, contextlib, re, resource, socket, sys, time
from service_proc import Service, check, query

CITY, OTHER, ICON = query("北京"), query("上海"), "/vip/baidu/imag/day/qing.gif"
TITLE = "<title>天气预报 北京_".encode("gbk")  # on 北京's page only


def get(target):
    return f"GET {target} HTTP/1.1\r\nHost: t\r\n\r\n".encode()


def answers(sock, wanted, linger=0.3):
    """(status, body) of `wanted` answers, and of anything more within `linger` s; whether the peer closed."""
    reader, got = sock.makefile("rb"), []
    try:
        while len(got) < wanted:
            lines = [reader.readline()]
            while lines[-1] not in (b"\r\n", b""):
                lines.append(reader.readline())
            if not lines[-1]:
                return got, True
            length = int(re.search(rb"\r\nContent-Length: (\d+)", b"".join(lines)).group(1))
            got.append((int(lines[0][9:12]), reader.read(length)))
        if not linger:
            return got, False
        sock.settimeout(linger)
        extra = reader.read1(65536)
        return got + ([(0, extra)] if extra else []), extra == b""
    except socket.timeout:
        return got, False


def ask(raw, wanted=1, linger=0.3):  # on a connection of its own
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(raw)
        return answers(s, wanted, linger=linger)


def ended(socks):
    count = 0
    for s in socks:
        s.setblocking(False)
        try:
            count += s.recv(1) == b""
        except (BlockingIOError, ConnectionResetError) as e:
            count += isinstance(e, ConnectionResetError)
    return count


async def burst(count):
    """How many of `count` page requests made at once are answered in full."""
    async def one():
        reader, writer = await asyncio.open_connection("127.0.0.1", port)
        writer.write(get(CITY))
        head = await reader.readuntil(b"\r\n\r\n")
        await reader.readexactly(int(re.search(rb"\r\nContent-Length: (\d+)", head).group(1)))
        writer.close()
        return head.startswith(b"HTTP/1.1 200")
    done = await asyncio.wait_for(asyncio.gather(*(one() for _ in range(count)), return_exceptions=True), 30)
    return sum(d is True for d in done)


soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
if hard != resource.RLIM_INFINITY and hard < 2500:
    sys.exit(print(f"skip: the open-file limit {hard} is below the 2500 this test holds") or 77)
resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, 2500), hard))
service = Service(sys.argv[1], "--demo", "--idle-timeout", "2", "--request-timeout", "4")
port = service.port

# A slowloris, half on heads and half on bodies, beside a crowd of idle connections: pages keep
# coming; the idle are let go by the idle time-out, the slow by the request deadline.
idle, slow = [[socket.create_connection(("127.0.0.1", port), timeout=5) for _ in range(n)] for n in (2000, 100)]
started = time.monotonic()
for i, s in enumerate(slow):
    s.send(b"GET /s?wd=" if i % 2 else b"POST /s HTTP/1.1\r\nHost: t\r\nContent-Length: 4000\r\n\r\n")
# Beside them one connection asks a page every half second: the deadline runs from its last answer.
steady, steady_pages, times = socket.create_connection(("127.0.0.1", port), timeout=5), [], []


def trickle(until, pages=False):
    while time.monotonic() - started < until:
        pause = time.monotonic() + 0.5
        while pages and time.monotonic() < pause:
            start, (got, _) = time.monotonic(), ask(get(CITY), linger=0)
            times.append(time.monotonic() - start if got and got[0][0] == 200 else 99.0)
        time.sleep(max(0.0, pause - time.monotonic()))
        try:
            steady.sendall(get(CITY))
            steady_pages.extend(g[0] for g in answers(steady, 1, linger=0)[0])
        except OSError:
            steady_pages.append(0)
        for s in slow:
            with contextlib.suppress(OSError):
                s.send(b"a")


trickle(2.6, True)
times.sort()
check(times[-1] < 1.0 and times[len(times) // 2] < 0.1, f"{len(times)} pages beside 2000 idle and 100 slow: "
      f"median {times[len(times) // 2] * 1000:.1f} ms, slowest {times[-1] * 1000:.1f} ms")
check((ended(idle), ended(slow)) == (2000, 0), "the idle are let go by the idle time-out, the slow not")
trickle(5.0)
check(ended(slow) == 100, "past the request deadline the slow are let go, however they trickle")
check(steady_pages == [200] * len(steady_pages) and len(steady_pages) >= 8 and ended([steady]) == 0,
      f"a connection that keeps asking is kept: {len(steady_pages)} pages")
for s in idle + slow:
    s.close()
check(asyncio.run(burst(2000)) == 2000, "2000 requests at once are all answered")

# A body is read and dropped, however late it comes: what it holds is never run.
for method, target, status in (("POST", "/s", 405), ("GET", CITY, 200)):
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(f"{method} {target} HTTP/1.1\r\nHost: t\r\nContent-Length: {len(get(ICON))}\r\n\r\n".encode())
        time.sleep(0.3)
        s.sendall(get(ICON) + get("/nothing"))
        check([g[0] for g in answers(s, 2)[0]] == [status, 404], f"a late body after {method} is not run")
# Framings two readers could take two ways are refused and the connection closed, as is a body
# past the cap; a body within it is dropped and the next request answered.
for framing, body, statuses in (("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n", "0\r\n\r\n", [400]),
                                ("Content-Length: 5\r\nContent-Length: 5\r\n", "abcde", [400]),
                                ("Transfer-Encoding: gzip, chunked\r\n", "0\r\n\r\n", [400]),
                                ("Content-Length: 4097\r\n", "abcde", [413]),
                                ("Content-Length: 4096\r\n", "a" * 4096, [405, 200]),
                                ("Transfer-Encoding: chunked\r\n", "5\r\nabcde\r\n0\r\n\r\n", [405, 200])):
    got, closed = ask(f"POST /s HTTP/1.1\r\nHost: t\r\n{framing}\r\n{body}".encode() + get(ICON), 2)
    check([g[0] for g in got] == statuses and closed, f"{framing.strip()!r}: {statuses}, then closed")
for fields, answer in ((64, [200]), (65, [431])):  # Host and the X- fields
    got, closed = ask(get(CITY)[:-2] + "".join(f"X-{i}: {i}\r\n" for i in range(fields - 1)).encode() + b"\r\n")
    check([g[0] for g in got] == answer and closed == (answer == [431]), f"{fields} header fields: {answer}")
# Pipelined requests are answered, each once and in order.
for count in (2, 50):
    targets = [(CITY, OTHER, "/nothing")[i % 3] for i in range(count)]
    got, _ = ask(b"".join(get(t) for t in targets), count)
    check([g[0] for g in got] == [404 if t == "/nothing" else 200 for t in targets]
          and all((TITLE in g[1]) == (t == CITY) for g, t in zip(got, targets)), f"{count} pipelined answered in order")

# What the library refuses is logged too.
check(ask(b"GET /s?wd=nohost HTTP/1.1\r\n\r\n")[0][0][0] == 400 and " - /s?wd=nohost 400 - -\n" in service.log(0.2) + "\n",
      "HTTP/1.1 without Host is refused and logged")
service.stop()
