#!/usr/bin/env python3
"""The release archives: package.sh run twice gives the same bytes (the programs' own determinism is the
resource test's); each archive lists what it should, with matching sums and the programs built; the
build's own, unpacked into a folder named in Chinese and with blanks, starts there under Wine at 144 DPI.
Usage: package_test.py --package SCRIPT --work DIR --bits 32|64 --wine-run WINE_RUN --prefix PREFIX"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import zipfile

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(root, "tests", "app"))
from pellumo_e2e import COLOUR, QUIET, Screen, check, run_session, start  # noqa: E402

PROGRAMS = {"pellumo.exe": "app", "pellumo-cal.exe": "tools", "pellumo-fetch.exe": "tools"}


def package(script, dist):
    shutil.rmtree(dist, ignore_errors=True)
    result = subprocess.run(["bash", script, "--dist", dist], capture_output=True, text=True, timeout=1800)
    check(result.returncode == 0, f"package.sh --dist {os.path.basename(dist)} ends with 0\n{result.stderr[-2000:]}")
    return {name: open(os.path.join(dist, name), "rb").read() for name in sorted(os.listdir(dist))}


def check_archive(path, bits, version):
    top, build = f"pellumo-{version}-win{bits}/", os.path.join(root, "build" if bits == 32 else "build-win64")
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
          f"programs are the {bits}-bit ones built (whose version record their own test reads)")
    readme = content["README.txt"].decode("utf-8-sig")
    check(all(w in readme for w in ("PELLUMO_SEARCH_HOST", "PELLUMO_ICON_HOST", "quorvan.idx", "设置", version)),
          "the read-me says where settings are kept and how to name a forecast service")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--package", "--work", "--bits", "--wine-run", "--prefix"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    def checks(started):
        first = package(args.package, os.path.join(args.work, "dist-a"))
        check(first == package(args.package, os.path.join(args.work, "dist-b")), f"two runs give the same {[*first]}")
        version = next(n for n in first if n.endswith(".sha256"))[len("pellumo-"):-len(".sha256")]
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
