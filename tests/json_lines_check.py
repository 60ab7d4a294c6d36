#!/usr/bin/env python3
"""Checks JSON Lines output against the TAB lines written for the same
drivers: every line is UTF-8 and parses, its members come in their order,
and the TAB line rebuilt from them, text encoded back to the program's
bytes, is the TAB line byte for byte.
Usage: json_lines_check.py TAB_FILE JSON_FILE ENCODING"""
import json
import sys

ORDER = ["description", "library", "version", "package", "attributes", "have", "elsewhere", "hint", "file", "road", "searched", "check"]

tab_path, json_path, encoding = sys.argv[1:4]
# Bytes that are not UTF-8 come back from their \\udcXX escapes.
errors = "surrogateescape" if encoding == "utf-8" else "strict"
tab_lines = open(tab_path, "rb").read().split(b"\n")[:-1]
json_lines = open(json_path, "rb").read().split(b"\n")[:-1]
passed = failed = 0


def fail(number, why):
    global failed
    failed += 1
    print(f"FAIL: line {number}: {why}")


if len(tab_lines) != len(json_lines):
    fail(0, f"{len(json_lines)} JSON lines for {len(tab_lines)} TAB lines")
for number, (tab_line, json_line) in enumerate(zip(tab_lines, json_lines), 1):
    try:
        member = json.loads(json_line.decode("utf-8"))
    except ValueError as error:
        fail(number, f"not JSON in UTF-8: {error}: {json_line!r}")
        continue
    keys = list(member)
    if keys != sorted(keys, key=ORDER.index) or "description" not in member:
        fail(number, f"members {keys}")
        continue
    fields = [member["description"]]
    fields += [member[key] for key in ("library", "version") if key in member]
    fields += member.get("attributes", [])
    fields += [member["check"]] if "check" in member else []
    rebuilt = "\t".join(fields).encode(encoding, errors)
    if rebuilt != tab_line.removesuffix(b"\r"):
        fail(number, f"{rebuilt!r} is not the TAB line {tab_line!r}")
    else:
        passed += 1
print(f"json lines: {passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
