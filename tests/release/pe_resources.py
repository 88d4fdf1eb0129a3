"""Reads resources back out of a built Windows program (PE32 or PE32+), as Explorer's
Details tab and resource viewers do: the header fields that say what the file is, any
resource by type and id, and the version record's fixed part and strings."""

import struct

RT_VERSION, RT_MANIFEST = 16, 24


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        _, sections, self.timestamp, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.bits = {0x10B: 32, 0x20B: 64}[magic]
        directories = optional + (96 if self.bits == 32 else 112)
        self.resource_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = [struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
                         for i in range(sections)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def _entries(self, directory):
        """(id, offset from the resource root, is a subdirectory) of each numbered entry."""
        base = self.offset(self.resource_rva)
        named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
            if not name & 0x80000000:
                yield name, target & 0x7FFFFFFF, bool(target & 0x80000000)

    def resource(self, kind, ident):
        """The bytes of resource `ident` of type `kind` (first language), or None."""
        if not self.resource_rva:
            return None
        directory = 0
        for key in (kind, ident):
            directory = next((target for name, target, sub in self._entries(directory) if name == key and sub), None)
            if directory is None:
                return None
        languages = [target for _, target, sub in self._entries(directory) if not sub]
        if not languages:
            return None
        rva, size = struct.unpack_from("<II", self.data, self.offset(self.resource_rva) + languages[0])
        return self.data[self.offset(rva):self.offset(rva) + size]


def _node(data, pos):
    """One VS_VERSIONINFO-style node: (key, value, children), and where it ends."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, pos)
    end = pos + length
    key_end = pos + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[pos + 6:key_end].decode("utf-16-le")
    at = (key_end + 2 + 3) & ~3
    if is_text:
        # Some writers count the text in characters, some in bytes: read to its NUL.
        value = data[at:min(at + 2 * value_length, end)].decode("utf-16-le").split("\0")[0]
        at += 2 * value_length
    else:
        value = data[at:at + value_length]
        at += value_length
    children = []
    at = (at + 3) & ~3
    while at < end:
        child, child_end = _node(data, at)
        children.append(child)
        at = (child_end + 3) & ~3
    return (key, value, children), end


def version_info(data):
    """The version record as (file version 4-tuple, product version 4-tuple,
    {language block: {name: text}}, [(language, code page)])."""
    (key, fixed, children), _ = _node(data, 0)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"version record named {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO signature")
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings, translations = {}, []
    for name, _, blocks in children:
        if name == "StringFileInfo":
            strings = {block: {k: v for k, v, _ in entries} for block, _, entries in blocks}
        elif name == "VarFileInfo":
            for _, value, _ in blocks:
                translations += [struct.unpack_from("<HH", value, i) for i in range(0, len(value), 4)]
    return split(file_ms, file_ls), split(product_ms, product_ls), strings, translations
