#!/usr/bin/env python3
"""The manifest and version record read back out of the built programs through windres's resource dump.
Usage: resources_test.py WINDRES VERSION BITS PROGRAM...   exit 0 when every check passed."""

import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

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


def main():
    windres, version, bits = sys.argv[1], sys.argv[2], int(sys.argv[3])
    problems = [f"FAIL {os.path.basename(p)}: {f}" for p in sys.argv[4:] for f in faults(windres, p, version, bits)]
    print("\n".join(problems) or "ok   every program's manifest and version record as they should be")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
