#!/usr/bin/env python3
"""Writes one release archive that is the same bytes whenever it is made from the same
inputs: entries in sorted order under one top folder, every time stamp the given one, no
owner or permission bits from the host, fixed compression.

Usage: make_zip.py ARCHIVE TOP_FOLDER EPOCH VERSION NAME=PATH...
A NAME ending in .txt is text: @VERSION@ is replaced and lines end in CRLF, with a UTF-8
byte order mark so that Notepad on older Windows reads the Chinese right. SHA256SUMS.txt is
added, listing every other file."""

import hashlib
import sys
import time
import zipfile

EARLIEST = 315532800  # 1980-01-01, the first time a zip entry can hold


def text_bytes(raw, version):
    text = raw.decode("utf-8").replace("@VERSION@", version).replace("\r\n", "\n")
    return b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8")


def main():
    archive, top, epoch, version, *items = sys.argv[1:]
    stamp = time.gmtime(max(int(epoch), EARLIEST))[:6]
    files = {}
    for item in items:
        name, path = item.split("=", 1)
        with open(path, "rb") as f:
            raw = f.read()
        files[name] = text_bytes(raw, version) if name.endswith(".txt") else raw
    sums = "".join(f"{hashlib.sha256(files[n]).hexdigest()} *{n}\n" for n in sorted(files))
    files["SHA256SUMS.txt"] = sums.encode("ascii")

    with zipfile.ZipFile(archive, "w") as z:
        folder = zipfile.ZipInfo(top + "/", stamp)
        folder.create_system, folder.external_attr = 0, 0x10  # MS-DOS, a directory
        z.writestr(folder, b"")
        for name in sorted(files):
            entry = zipfile.ZipInfo(f"{top}/{name}", stamp)
            entry.create_system, entry.external_attr = 0, 0
            entry.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(entry, files[name], compresslevel=9)


if __name__ == "__main__":
    main()
