#!/usr/bin/env python3
"""The release archives: scripts/package.sh run twice gives the same bytes (the second run
packages the same build trees again, so the programs' own determinism is the resource
test's: no link time in their headers); each archive lists what it should with sums that
match; the one of the build's architecture, unpacked into a folder whose path holds
Chinese characters and blanks, starts there under Wine at 144 DPI and draws its calendar.

Usage: package_test.py --package SCRIPT --work DIR --bits 32|64 --wine-run WINE_RUN --prefix PREFIX"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import zipfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [here, os.path.join(here, "..", "app")]
from pe_resources import RT_VERSION, PeFile, version_info  # noqa: E402
from dpi_e2e import SCREEN_W, set_dpi  # noqa: E402
from pellumo_e2e import COLOUR, Failure, Screen, check, find_window, run_session, start, wait_for  # noqa: E402

FILES = ["README.txt", "SHA256SUMS.txt", "pellumo-cal.exe", "pellumo-fetch.exe", "pellumo.exe"]


def package(script, dist):
    shutil.rmtree(dist, ignore_errors=True)
    result = subprocess.run(["bash", script, "--dist", dist], capture_output=True, text=True, timeout=1800)
    check(result.returncode == 0, f"package.sh --dist {os.path.basename(dist)} ends with 0\n{result.stderr[-2000:]}")
    return {name: open(os.path.join(dist, name), "rb").read() for name in sorted(os.listdir(dist))}


def check_archive(path, bits, version, licence):
    top = f"pellumo-{version}-win{bits}/"
    with zipfile.ZipFile(path) as z:
        names = z.namelist()
        wanted = [top] + [top + n for n in sorted(FILES + (["LICENSE.txt"] if licence else []))]
        check(names == wanted, f"{os.path.basename(path)} lists {wanted}")
        content = {n[len(top):]: z.read(n) for n in names[1:]}
        check(len({i.date_time for i in z.infolist()}) == 1, "every entry carries the same time")
    listed = dict(reversed(line.split(" *")) for line in content.pop("SHA256SUMS.txt").decode().splitlines())
    check(listed == {n: hashlib.sha256(b).hexdigest() for n, b in content.items()}, "SHA256SUMS.txt matches")
    readme = content["README.txt"].decode("utf-8-sig")
    check(all(w in readme for w in ("PELLUMO_SEARCH_HOST", "PELLUMO_ICON_HOST", "quorvan.idx", "设置", version)),
          "the read-me says where settings are kept and how to name a forecast service")
    for name in ("pellumo.exe", "pellumo-cal.exe", "pellumo-fetch.exe"):
        pe = PeFile(content[name])
        file_version = version_info(pe.resource(RT_VERSION, 1))[2]["080404b0"]["FileVersion"]
        check((pe.bits, file_version) == (bits, version), f"{name}: {bits}-bit, version {version}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--package", "--work", "--bits", "--wine-run", "--prefix"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    try:
        folder = unpacked_archive(args)
    except Failure as failure:
        print(f"FAIL {failure}")
        return 1

    def checks(started):
        cal = subprocess.run([args.wine_run, "--prefix", args.prefix, os.path.join(folder, "pellumo-cal.exe"), "2025",
                              "1"], cwd=folder, capture_output=True, timeout=120)
        check(cal.returncode == 0 and "小寒" in cal.stdout.decode("utf-8", "replace"),
              "pellumo-cal.exe from there prints January 2025 with its lunar days and solar term")
        args.exe = os.path.join(folder, "pellumo.exe")
        set_dpi(args, 144)  # as a laptop at 150 % would start it
        env = dict(os.environ, PELLUMO_SEARCH_HOST="127.0.0.1:1", PELLUMO_ICON_HOST="127.0.0.1:1")
        _, _, area = start(args, started, cwd=folder, env=env)
        check(find_window()[1:] == (SCREEN_W - 480, -23, 480, 675), "pellumo.exe from there: its window at 144 DPI")
        wait_for("the calendar", lambda: Screen().count(area, lambda p: p == COLOUR) > 200, timeout=30)
        check(True, "and it draws the calendar")
    return run_session(args, checks)


def unpacked_archive(args):
    """Packages twice, checks both archives and returns the folder the build's went to."""
    os.makedirs(args.work, exist_ok=True)
    first = package(args.package, os.path.join(args.work, "dist-a"))
    second = package(args.package, os.path.join(args.work, "dist-b"))
    check(first == second, f"two runs give the same bytes: {', '.join(first)}")
    version = next(n for n in first if n.endswith(".sha256"))[len("pellumo-"):-len(".sha256")]
    licence = any(os.path.exists(os.path.join(here, "..", "..", n)) for n in ("LICENSE", "LICENSE.txt", "COPYING"))
    for bits in (32, 64):
        check_archive(os.path.join(args.work, "dist-a", f"pellumo-{version}-win{bits}.zip"), bits, version, licence)

    folder = os.path.join(args.work, "解压 到 这里 (Pellumo)")
    shutil.rmtree(folder, ignore_errors=True)
    with zipfile.ZipFile(os.path.join(args.work, "dist-a", f"pellumo-{version}-win{args.bits}.zip")) as z:
        z.extractall(folder)
    return os.path.join(folder, f"pellumo-{version}-win{args.bits}")


if __name__ == "__main__":
    sys.exit(main())
