#!/usr/bin/env python3
"""Writes a copy of a DLL with its imports changed, for the Windows judge.

Usage: pe_edit.py IN OUT EDIT
  imports-in-headers  the import descriptors copied into the headers' spare
                      room, the import directory pointing there
  thunk VALUE         the first imported function's entry (a name's RVA)
"""
import struct
import sys


def layout(data):
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional = struct.unpack_from("<H", data, nt + 6)[0], struct.unpack_from("<H", data, nt + 20)[0]
    wide = struct.unpack_from("<H", data, nt + 24)[0] == 0x20B
    directories = nt + 24 + (112 if wide else 96)
    table = nt + 24 + optional
    return nt, wide, directories, [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)], \
        table + 40 * sections


def offset_of(sections, rva):
    for size, address, raw_size, raw_at in sections:
        if address <= rva < address + max(size, raw_size):
            return raw_at + rva - address
    raise SystemExit("RVA not in a section")


def main(source, target, edit, *args):
    data = bytearray(open(source, "rb").read())
    nt, wide, directories, sections, headers_end = layout(data)
    imports = struct.unpack_from("<I", data, directories + 8)[0]
    at = offset_of(sections, imports)
    if edit == "imports-in-headers":
        count = 1
        while struct.unpack_from("<I", data, at + 20 * (count - 1) + 12)[0]:
            count += 1
        spare = (headers_end + 15) & ~15
        if spare + 20 * count > struct.unpack_from("<I", data, nt + 24 + 60)[0]:
            raise SystemExit("no room in the headers")
        data[spare:spare + 20 * count] = data[at:at + 20 * count]
        struct.pack_into("<I", data, directories + 8, spare)
    elif edit == "thunk":
        lookups = struct.unpack_from("<I", data, at)[0] or struct.unpack_from("<I", data, at + 16)[0]
        struct.pack_into("<Q" if wide else "<I", data, offset_of(sections, lookups), int(args[0], 0))
    open(target, "wb").write(data)


if __name__ == "__main__":
    main(*sys.argv[1:])
