#!/usr/bin/env python3
# glibc's account of a load (LD_DEBUG=libs,files) judges quorbel -j -c's road to a name found
# nowhere and the folders searched (hwcaps and legacy subfolders as their folder).
# Usage: ld_debug_road.py NAME LD_DEBUG_OUTPUT QUORBEL_JSON_LINE
import json, re, sys

SUBFOLDERS = {"glibc-hwcaps", "x86-64-v2", "x86-64-v3", "x86-64-v4", "tls", "haswell", "xeon_phi", "avx512_1", "x86_64"}
name, debug, line = sys.argv[1:]
needer, found, tried, searched, current = {}, {}, None, [], None
for text in open(debug, errors="replace"):
    if m := re.search(r"\bfile=(\S+) \[0\];  (needed by (\S+)|generating link map)", text):
        if m.group(3):
            current, needer[m.group(1)] = m.group(1), m.group(3)
        else:
            found[m.group(1)] = tried if "/" not in m.group(1) else m.group(1)
    elif m := re.search(r"trying file=(\S+)", text):
        tried = m.group(1)
    elif current == name and (m := re.search(r"search (path|cache)=(\S*)", text)):
        for folder in m.group(2).split(":"):
            while folder.rsplit("/", 1)[-1] in SUBFOLDERS:
                folder = folder.rsplit("/", 1)[0]
            searched += [] if searched[-1:] == [folder] else [folder]
parent = {found.get(n, n): needer[n] for n in needer}
road = [needer[name]]
while road[0] in parent:
    road.insert(0, parent[road[0]])
got = json.loads(line)
# A road too long for quorbel's list ends in "...".
if got.get("road", [""])[-1] == "...":
    road = road[:len(got["road"]) - 1] + ["..."]
if [road, searched] != [got.get("road"), got.get("searched")]:
    sys.exit(f"glibc: {road} {searched}\nquorbel: {got}"[:2000])
