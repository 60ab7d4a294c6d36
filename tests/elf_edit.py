#!/usr/bin/env python3
"""Writes a copy of a 64-bit little-endian ELF library with one field changed,
for the judge's damaged libraries.

Usage: elf_edit.py IN OUT EDIT...
  load N FIELD VALUE   the Nth loadable segment's vaddr, offset, filesz, memsz
                       or flags; VALUE may be +N or -N, relative to it
  dynamic FIELD VALUE  the same of the dynamic segment
  swap-loads N M       two loadable segments change places
  tag TAG VALUE        the value of the first dynamic entry of TAG (a number)
  verdef-version V     the version of the first symbol version definition
  rela N TYPE          the type of the Nth entry of DT_RELA (-1: the last)
  weak-rename OLD NEW  the version requirement OLD made weak and renamed NEW
                       (of the same length)
  symbol NAME FIELD V  the dynamic symbol NAME's name (offset), shndx, value or info
  retag OLD NEW        the first dynamic entry of tag OLD given tag NEW
  buckets-but NAME V   every GNU hash bucket but NAME's set to V
  chain-open NAME      the end bit of NAME's GNU hash chain cleared
  versym NAME V        the version index of the dynamic symbol NAME
"""
import struct
import sys

FIELDS = {"flags": (4, "<I"), "offset": (8, "<Q"), "vaddr": (16, "<Q"), "filesz": (32, "<Q"), "memsz": (40, "<Q")}


def headers(data):
    at, count = struct.unpack_from("<Q", data, 32)[0], struct.unpack_from("<H", data, 56)[0]
    return [at + i * 56 for i in range(count)]


def of_type(data, kind):
    return [h for h in headers(data) if struct.unpack_from("<I", data, h)[0] == kind]


def set_field(data, header, field, value):
    at, form = FIELDS[field]
    old = struct.unpack_from(form, data, header + at)[0]
    new = old + int(value, 0) if value[0] in "+-" else int(value, 0)
    struct.pack_into(form, data, header + at, new)


def address_to_offset(data, address):
    for h in of_type(data, 1):
        offset, vaddr, filesz = (struct.unpack_from("<Q", data, h + f)[0] for f in (8, 16, 32))
        if vaddr <= address < vaddr + filesz:
            return offset + address - vaddr
    raise SystemExit("address not in the file")


def dynamic_entries(data):
    at = struct.unpack_from("<Q", data, of_type(data, 2)[0] + 8)[0]
    while True:
        tag, value = struct.unpack_from("<qQ", data, at)
        yield at, tag, value
        if tag == 0:
            return
        at += 16


def main(source, target, edit, *args):
    data = bytearray(open(source, "rb").read())
    if edit == "load":
        set_field(data, of_type(data, 1)[int(args[0])], args[1], args[2])
    elif edit == "dynamic":
        set_field(data, of_type(data, 2)[0], args[0], args[1])
    elif edit == "swap-loads":
        a, b = (of_type(data, 1)[int(i)] for i in args)
        data[a:a + 56], data[b:b + 56] = data[b:b + 56], data[a:a + 56]
    elif edit == "tag":
        at = next(at for at, tag, _ in dynamic_entries(data) if tag == int(args[0], 0))
        struct.pack_into("<Q", data, at + 8, int(args[1], 0))
    elif edit == "verdef-version":
        verdef = next(value for _, tag, value in dynamic_entries(data) if tag == 0x6ffffffc)
        struct.pack_into("<H", data, address_to_offset(data, verdef), int(args[0]))
    elif edit == "rela":
        values = {tag: value for _, tag, value in dynamic_entries(data)}
        entries = range(address_to_offset(data, values[7]), address_to_offset(data, values[7]) + values[8], 24)
        struct.pack_into("<I", data, entries[int(args[0])] + 8, int(args[1], 0))
    elif edit == "weak-rename":
        values = {tag: value for _, tag, value in dynamic_entries(data)}
        strings, need = address_to_offset(data, values[5]), address_to_offset(data, values[0x6ffffffe])
        aux = need + struct.unpack_from("<I", data, need + 8)[0]
        while data[strings + struct.unpack_from("<I", data, aux + 8)[0]:].split(b"\0")[0] != args[0].encode():
            aux += struct.unpack_from("<I", data, aux + 12)[0]
        struct.pack_into("<H", data, aux + 4, 2)
        name = strings + struct.unpack_from("<I", data, aux + 8)[0]
        data[name:name + len(args[1])] = args[1].encode()
    elif edit in ("buckets-but", "chain-open"):
        gnu = address_to_offset(data, {tag: value for _, tag, value in dynamic_entries(data)}[0x6ffffef5])
        count, offset, bloom, _ = struct.unpack_from("<4I", data, gnu)
        h = 5381
        for c in args[0].encode():
            h = (h * 33 + c) & 0xFFFFFFFF
        buckets = gnu + 16 + 8 * bloom
        chain = buckets + 4 * count + 4 * (struct.unpack_from("<I", data, buckets + 4 * (h % count))[0] - offset)
        while edit == "chain-open" and not data[chain] & 1:
            chain += 4
        if edit == "chain-open":
            data[chain] &= 0xFE
        for i in range(count if edit == "buckets-but" else 0):
            at = buckets + 4 * i
            if i != h % count and struct.unpack_from("<I", data, at)[0]:
                struct.pack_into("<I", data, at, int(args[1], 0))
    elif edit == "retag":
        at = next(at for at, tag, _ in dynamic_entries(data) if tag == int(args[0], 0))
        struct.pack_into("<q", data, at, int(args[1], 0))
    elif edit in ("symbol", "versym"):
        values = {tag: value for _, tag, value in dynamic_entries(data)}
        symbols, strings = address_to_offset(data, values[6]), address_to_offset(data, values[5])
        at = symbols
        while data[strings + struct.unpack_from("<I", data, at)[0]:].split(b"\0")[0] != args[0].encode():
            at += 24
        if edit == "versym":
            versym = address_to_offset(data, values[0x6ffffff0]) + (at - symbols) // 24 * 2
            struct.pack_into("<H", data, versym, int(args[1], 0))
        else:
            offset, form = {"name": (0, "<I"), "info": (4, "<B"), "shndx": (6, "<H"), "value": (8, "<Q")}[args[1]]
            struct.pack_into(form, data, at + offset, int(args[2], 0))
    open(target, "wb").write(data)


if __name__ == "__main__":
    main(*sys.argv[1:])
