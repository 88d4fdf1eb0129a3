#!/usr/bin/env python3
"""The release: the build's programs carry their manifest and version record (read back through windres's
resource dump) and no link time; package.sh run twice gives the same bytes; each archive lists what it should,
with matching sums and the programs built; the build's own, unpacked into a folder named in Chinese and with
blanks, starts there under Wine at 144 DPI.
Usage: package_test.py --package SCRIPT --work DIR --bits 32|64 --windres WINDRES --wine-run WINE_RUN --prefix PREFIX"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(root, "tests", "app"))
from pellumo_e2e import COLOUR, QUIET, Screen, check, run_session, start  # noqa: E402

PROGRAMS = {"pellumo.exe": "app", "pellumo-cal.exe": "tools", "pellumo-fetch.exe": "tools"}
DESCRIPTIONS = {"pellumo.exe": "Pellumo 农历日历与天气", "pellumo-cal.exe": "Pellumo 农历月历（命令行）",
                "pellumo-fetch.exe": "Pellumo HTTP 下载（命令行）", "pellumo-weather-time.exe": "Pellumo 天气刷新计时"}
WINDOWS_7_TO_11 = ["{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                   "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]


def faults(windres, path, version, bits):
    head = open(path, "rb").read(4096)
    pe = int.from_bytes(head[60:64], "little")
    # No link time in the header, or two builds of one commit would differ.
    found = [("header", int.from_bytes(head[pe + 8:pe + 12], "little"), head[pe + 24:pe + 26])]
    dump = subprocess.run([windres, "-i", path, "-O", "rc"], capture_output=True, text=True, timeout=60).stdout
    text = lambda s: re.sub(r"\\x([0-9a-f]{4})", lambda m: chr(int(m[1], 16)), s)  # noqa: E731
    strings = {k: text(v) for k, v in re.findall(r'VALUE "(\w+)", L?"((?:[^"]|"")*)"', dump)}
    found += [("version", re.findall(r"(FILE|PRODUCT)VERSION ([\d, ]+)", dump), re.findall(r"BLOCK \"(\w+)\"", dump),
               re.findall(r'"Translation", (.*)', dump))]
    found += [(k, strings.get(k)) for k in ("ProductName", "FileVersion", "ProductVersion", "OriginalFilename",
                                            "FileDescription")]
    manifest = re.search(r"\n1 24 .*\nBEGIN\n(.*?)\nEND", dump, re.S)
    xml = "".join(re.findall(r'^\s*"(.*)"$', manifest[1] if manifest else "", re.M)).replace('""', '"')
    tags = {}
    for e in ET.fromstring(xml.replace("\\n", "\n")).iter() if manifest else []:
        tags.setdefault(e.tag.rsplit("}", 1)[-1], []).append((e.text or "").strip() + "".join(e.attrib.values()))
    # As invoker, common controls 6, Windows 7 to 11, per-monitor DPI aware with a system-aware fallback
    # (dpiAware for the Windows before 10), and the code page left alone.
    found += [("manifest", tags.get("requestedExecutionLevel"), tags.get("supportedOS"), tags.get("dpiAwareness"),
               tags.get("dpiAware"), sum("Common-Controls6.0.0.0" in a for a in tags.get("assemblyIdentity", [])),
               "activeCodePage" in tags)]
    numbers = ", ".join(version.split(".") + ["0"])
    wanted = [("header", 0, b"\x0b\x01" if bits == 32 else b"\x0b\x02"),
              ("version", [("FILE", numbers), ("PRODUCT", numbers)], ["StringFileInfo", "080404b0", "VarFileInfo"],
               ["0x804, 1200"]),
              ("ProductName", "Pellumo"), ("FileVersion", version), ("ProductVersion", version),
              ("OriginalFilename", os.path.basename(path)), ("FileDescription", DESCRIPTIONS[os.path.basename(path)]),
              ("manifest", ["asInvokerfalse"], WINDOWS_7_TO_11, ["PerMonitorV2, System"], ["true"], 1, False)]
    return [f"{got}, not {want}" for got, want in zip(found, wanted) if got != want]


def build_dir(bits):
    return os.path.join(root, "build" if bits == 32 else "build-win64")


def package(script, dist):
    shutil.rmtree(dist, ignore_errors=True)
    result = subprocess.run(["bash", script, "--dist", dist], capture_output=True, text=True, timeout=1800)
    check(result.returncode == 0, f"package.sh --dist {os.path.basename(dist)} ends with 0\n{result.stderr[-2000:]}")
    return {name: open(os.path.join(dist, name), "rb").read() for name in sorted(os.listdir(dist))}


def check_archive(path, bits, version):
    top, build = f"pellumo-{version}-win{bits}/", build_dir(bits)
    licence = any(os.path.exists(os.path.join(root, n)) for n in ("LICENSE", "LICENSE.txt", "LICENSE.md", "COPYING"))
    wanted = [top] + [top + n for n in sorted([*PROGRAMS, "README.txt", "SHA256SUMS.txt"] + ["LICENSE.txt"] * licence)]
    with zipfile.ZipFile(path) as z:
        names, times = z.namelist(), {i.date_time for i in z.infolist()}
        content = {n[len(top):]: z.read(n) for n in names[1:]}
    listed = dict(reversed(line.split(" *")) for line in content.pop("SHA256SUMS.txt", b"").decode().splitlines())
    sums = {n: hashlib.sha256(b).hexdigest() for n, b in content.items()}
    check(names == wanted and len(times) == 1 and listed == sums and
          all(content[n] == open(os.path.join(build, d, n), "rb").read() for n, d in PROGRAMS.items()),
          f"{os.path.basename(path)} lists {wanted}, each entry of the same time, SHA256SUMS.txt matches and the "
          f"programs are the {bits}-bit ones built")
    readme = content["README.txt"].decode("utf-8-sig")
    check(all(w in readme for w in ("PELLUMO_SEARCH_HOST", "PELLUMO_ICON_HOST", "quorvan.idx", "设置", version)),
          "the read-me says where settings are kept and how to name a forecast service")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--package", "--work", "--bits", "--windres", "--wine-run", "--prefix"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    def checks(started):
        first = package(args.package, os.path.join(args.work, "dist-a"))
        check(first == package(args.package, os.path.join(args.work, "dist-b")), f"two runs give the same {[*first]}")
        version = next(n for n in first if n.endswith(".sha256"))[len("pellumo-"):-len(".sha256")]
        built = {**PROGRAMS, "pellumo-weather-time.exe": "tools"}
        for path in [os.path.join(build_dir(int(args.bits)), d, n) for n, d in built.items()]:
            problems = faults(args.windres, path, version, int(args.bits))
            check(not problems, f"{os.path.basename(path)}: manifest and version record as they should be {problems}")
        for bits in (32, 64):
            check_archive(os.path.join(args.work, "dist-a", f"pellumo-{version}-win{bits}.zip"), bits, version)
        folder = os.path.join(args.work, "解压 到 这里 (Pellumo)")
        shutil.rmtree(folder, ignore_errors=True)
        with zipfile.ZipFile(os.path.join(args.work, "dist-a", f"pellumo-{version}-win{args.bits}.zip")) as z:
            z.extractall(folder)
        # As a laptop at 150 % would start it: the prefix's DPI, from a prefix of the right bits.
        subprocess.run([args.wine_run, "--prefix", args.prefix, "--arch", args.bits, "reg", "add",
                        r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f"],
                       timeout=120, check=True, **QUIET)
        args.exe = os.path.join(folder, f"pellumo-{version}-win{args.bits}", "pellumo.exe")
        _, window, _, _ = start(args, started, os.path.dirname(args.exe))
        # At 96 DPI the calendar ends above y = 280, where the forecast begins: its ink there is scaled.
        ink = Screen().count((window[1], window[2] + 300, window[1] + 480, window[2] + 400), lambda p: p == COLOUR)
        check(window[1:] == (1024 - 480, -23, 480, 675) and ink > 100,
              f"pellumo.exe there draws its window and calendar at 144 DPI {window}, {ink} pixels of it below 300")
    return run_session(args, checks)


if __name__ == "__main__":
    sys.exit(main())
