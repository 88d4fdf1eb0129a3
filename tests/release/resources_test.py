#!/usr/bin/env python3
"""The manifest and version record read back out of the built programs, as Explorer's Details tab does.
Usage: resources_test.py VERSION BITS PROGRAM...   exit 0 when every check passed."""

import os
import re
import struct
import sys
import xml.etree.ElementTree as ET

DESCRIPTIONS = {"pellumo.exe": "Pellumo 农历日历与天气", "pellumo-cal.exe": "Pellumo 农历月历（命令行）",
                "pellumo-fetch.exe": "Pellumo HTTP 下载（命令行）", "pellumo-weather-time.exe": "Pellumo 天气刷新计时"}
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 7, 8
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}  # 8.1, 10 and 11


def read_pe(data):
    """(bits, link time, {(type, id): bytes of its first language}) of a PE32 or PE32+ file."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count, timestamp, _, _, optional_size, _, magic = struct.unpack_from("<HIIIHHH", data, pe + 6)
    bits = {0x10B: 32, 0x20B: 64}[magic]
    root_rva = struct.unpack_from("<I", data, pe + 24 + (96 if bits == 32 else 112) + 16)[0]
    sections = [struct.unpack_from("<IIII", data, pe + 24 + optional_size + 40 * i + 8) for i in range(count)]
    at = lambda rva: next(raw + rva - va for size, va, raw_size, raw in sections  # noqa: E731
                          if va <= rva < va + max(size, raw_size))
    root = at(root_rva) if root_rva else None

    def entries(directory):  # (id, offset from the root) of the numbered entries, which follow the named ones
        named, numbered = struct.unpack_from("<HH", data, root + directory + 12)
        return [struct.unpack_from("<II", data, root + directory + 16 + 8 * i) for i in range(named, named + numbered)]
    found = {}
    for kind, ids in entries(0) if root is not None else []:
        for ident, languages in entries(ids & 0x7FFFFFFF):
            rva, size = struct.unpack_from("<II", data, root + entries(languages & 0x7FFFFFFF)[0][1])
            found[kind, ident] = data[at(rva):at(rva) + size]
    return bits, timestamp, found


def node(data, pos):
    """One node of a version record, (key, value, children), and where it ends."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, pos)
    key_end = next(i for i in range(pos + 6, pos + length, 2) if data[i:i + 2] == b"\0\0")
    at = (key_end + 5) & ~3
    # Some writers count the text in characters, some in bytes: read to its NUL.
    value = (data[at:min(at + 2 * value_length, pos + length)].decode("utf-16-le").split("\0")[0] if is_text
             else data[at:at + value_length])
    at, children = (at + value_length * (2 if is_text else 1) + 3) & ~3, []
    while at < pos + length:
        child, end = node(data, at)
        children.append(child)
        at = (end + 3) & ~3
    return (data[pos + 6:key_end].decode("utf-16-le"), value, children), pos + length


def manifest_faults(text):
    found = {}
    for element in ET.fromstring(text).iter():
        found.setdefault(element.tag.rsplit("}", 1)[-1], []).append(element)
    got = ([e.get("level") for e in found.get("requestedExecutionLevel", [])],
           ("Microsoft.Windows.Common-Controls", "6.0.0.0") in [(e.get("name"), e.get("version"))
                                                                for e in found.get("assemblyIdentity", [])],
           {e.get("Id") for e in found.get("supportedOS", [])} == SUPPORTED_OS,
           [e.text.replace(" ", "").lower().split(",") for e in found.get("dpiAwareness", [])],
           [e.text.strip().lower() for e in found.get("dpiAware", [])], "activeCodePage" in found)
    # As invoker, common controls 6, Windows 7 to 11, per-monitor DPI aware with a system-aware fallback
    # (dpiAware for the Windows before 10), and the code page left alone.
    return [] if got == (["asInvoker"], True, True, [["permonitorv2", "system"]], ["true"], False) else [f"manifest {got}"]


def program_faults(path, version, bits):
    with open(path, "rb") as f:
        pe_bits, timestamp, resources = read_pe(f.read())
    faults = [f"a {pe_bits}-bit program in a {bits}-bit build"] * (pe_bits != bits)
    faults += [f"link time {timestamp} in the header: two builds would differ"] * (timestamp != 0)
    faults += manifest_faults(resources[24, 1]) if (24, 1) in resources else ["no manifest (RT_MANIFEST 1)"]
    if (16, 1) not in resources:
        return faults + ["no version record"]
    (key, fixed, children), _ = node(resources[16, 1], 0)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    numbers = tuple(int(n) for n in version.split(".")) + (0,)
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)  # noqa: E731
    if (key, signature, split(file_ms, file_ls), split(product_ms, product_ls)) != (
            "VS_VERSION_INFO", 0xFEEF04BD, numbers, numbers):
        faults.append(f"fixed part {key} {signature:#x} {split(file_ms, file_ls)} {split(product_ms, product_ls)}")
    blocks = {name: blocks for name, _, blocks in children}
    table = {block: {k: v for k, v, _ in entries} for block, _, entries in blocks.get("StringFileInfo", [])}
    translations = [struct.unpack_from("<HH", v, i) for _, v, _ in blocks.get("VarFileInfo", [])
                    for i in range(0, len(v), 4)]
    name = os.path.basename(path)
    expected = {"ProductName": "Pellumo", "FileVersion": version, "ProductVersion": version, "OriginalFilename": name,
                "FileDescription": DESCRIPTIONS[name]}
    strings = table.get("080404b0", {})
    faults += [f"{k} {strings.get(k)!r}, not {v!r}" for k, v in expected.items() if strings.get(k) != v]
    return faults + [f"translations {translations}"] * (translations != [(0x0804, 1200)])


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
