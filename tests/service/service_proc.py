"""The process tests' shared parts; the service logs to a file, which thousands of requests cannot choke."""

import atexit, os, re, signal, socket, subprocess, tempfile, time, urllib.parse

failures, children = [], []
atexit.register(lambda: failures and os._exit(1))  # the exit status, after the children are ended
atexit.register(lambda: [child.kill() for child in children if child.poll() is None])


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    failures.extend([] if ok else [what])


def query(city):
    return "/s?wd=" + urllib.parse.quote(("天气预报 " + city).encode("gbk")).replace("%20", "+")


def wait_for(condition, seconds=6.0):
    end = time.monotonic() + seconds
    while not condition() and time.monotonic() < end:
        time.sleep(0.05)
    return condition()


def fetch(port, target, connection="close", timeout=5.0):
    """(seconds, head, body); the body None unless the server ends the connection in time."""
    start, data = time.monotonic(), b""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(f"GET {target} HTTP/1.1\r\nHost: t\r\nConnection: {connection}\r\n\r\n".encode())
        try:
            while chunk := s.recv(65536):
                data += chunk
        except socket.timeout:
            data = None
    head, _, body = (data or b"").partition(b"\r\n\r\n")
    return time.monotonic() - start, head.decode("latin-1"), None if data is None else body


class Service:
    def __init__(self, exe, *args):
        fd, path = tempfile.mkstemp()
        self.proc = subprocess.Popen([exe, "--port", "0", *args], stdout=fd, stderr=subprocess.PIPE, text=True)
        self.reader, self.history = open(path, "rb"), []
        children.append(self.proc), os.close(fd), os.unlink(path)
        self.lines = [self.line(), self.line()]
        found = re.search(r"listening on http://127\.0\.0\.1:(\d+) \(icon host (\S+)\)", self.lines[1])
        self.port, self.icon_host = (int(found.group(1)), found.group(2)) if found else (0, "")

    def line(self, timeout=5.0):
        end = time.monotonic() + timeout
        while not (text := self.reader.readline()).endswith(b"\n"):
            self.reader.seek(-len(text), os.SEEK_CUR)
            if time.monotonic() >= end:
                return ""
            time.sleep(0.02)
        self.history.append(text.decode("utf-8", "replace").rstrip("\n"))
        return self.history[-1]

    def log(self, quiet=0.5):
        return "\n".join(iter(lambda: self.line(quiet), ""))

    def stop(self, stop_signal=signal.SIGTERM):
        self.proc.send_signal(stop_signal)
        check(self.proc.wait(timeout=15) == 0 and self.log(0).endswith("stopped"),
              f"stops cleanly on {stop_signal.name} {self.proc.stderr.read().strip()}")
