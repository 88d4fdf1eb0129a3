#!/usr/bin/env python3
"""The manifest and version record read back out of the built programs.

Usage: resources_test.py VERSION BITS PROGRAM...   exit code 0 when every check passed."""

import os
import re
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_resources import RT_MANIFEST, RT_VERSION, PeFile, version_info  # noqa: E402

DESCRIPTIONS = {
    "pellumo.exe": "Pellumo 农历日历与天气",
    "pellumo-cal.exe": "Pellumo 农历月历（命令行）",
    "pellumo-fetch.exe": "Pellumo HTTP 下载（命令行）",
    "pellumo-weather-time.exe": "Pellumo 天气刷新计时",
}
# Windows 7, 8, 8.1, 10 and 11.
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def local(tag):
    return tag.rsplit("}", 1)[-1]


def manifest_faults(text):
    root = ET.fromstring(text)
    found = {}
    for element in root.iter():
        found.setdefault(local(element.tag), []).append(element)
    level = [e.get("level") for e in found.get("requestedExecutionLevel", [])]
    controls = [(e.get("name"), e.get("version")) for e in found.get("assemblyIdentity", [])]
    awareness = [e.text.replace(" ", "").lower().split(",") for e in found.get("dpiAwareness", [])]
    faults = []
    if level != ["asInvoker"]:
        faults.append(f"execution level {level}")
    if ("Microsoft.Windows.Common-Controls", "6.0.0.0") not in controls:
        faults.append(f"no common controls 6: {controls}")
    if {e.get("Id") for e in found.get("supportedOS", [])} != SUPPORTED_OS:
        faults.append("supported Windows versions are not 7 to 11")
    if awareness != [["permonitorv2", "system"]]:
        faults.append(f"dpiAwareness {awareness}")
    if [e.text.strip().lower() for e in found.get("dpiAware", [])] != ["true"]:
        faults.append("no system-aware fallback (dpiAware true)")
    if "activeCodePage" in found:
        faults.append("the manifest changes the active code page")
    return faults


def program_faults(path, version, bits):
    name = os.path.basename(path)
    with open(path, "rb") as f:
        pe = PeFile(f.read())
    faults = []
    if pe.bits != bits:
        faults.append(f"a {pe.bits}-bit program in a {bits}-bit build")
    if pe.timestamp != 0:
        faults.append(f"link time {pe.timestamp} in the header: two builds would differ")
    manifest = pe.resource(RT_MANIFEST, 1)
    faults += ["no manifest (RT_MANIFEST 1)"] if manifest is None else manifest_faults(manifest)
    record = pe.resource(RT_VERSION, 1)
    if record is None:
        return faults + ["no version record"]
    file_version, product_version, strings, translations = version_info(record)
    numbers = tuple(int(n) for n in version.split(".")) + (0,)
    if file_version != numbers or product_version != numbers:
        faults.append(f"fixed versions {file_version} {product_version}, not {numbers}")
    table = strings.get("080404b0", {})
    expected = {"ProductName": "Pellumo", "FileVersion": version, "ProductVersion": version,
                "OriginalFilename": name, "FileDescription": DESCRIPTIONS[name]}
    faults += [f"{key} {table.get(key)!r}, not {value!r}" for key, value in expected.items() if table.get(key) != value]
    if translations != [(0x0804, 1200)]:
        faults.append(f"translations {translations}")
    return faults


def main():
    version, bits, programs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    if not re.fullmatch(r"\d+\.\d+\.\d+", version) or not programs:
        sys.exit("usage: resources_test.py VERSION BITS PROGRAM...")
    failed = False
    for path in programs:
        faults = program_faults(path, version, bits)
        failed |= bool(faults)
        for fault in faults or ["manifest and version record as they should be"]:
            print(f"{'FAIL' if faults else 'ok  '} {os.path.basename(path)}: {fault}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
