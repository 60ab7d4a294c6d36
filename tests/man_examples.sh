#!/usr/bin/env bash
# Every example of the man page, copied from the page as man renders it,
# gives what the page says it gives: run against a small odbcinst.ini.
# Usage: man_examples.sh PROGRAM PAGE WORKDIR
set -u
program=$(realpath "$1")
page=$2
work=$3
rm -rf "$work"
mkdir -p "$work/bin"
ln -s "$program" "$work/bin/quorbel"
echo 'short SQLAllocHandle(short t, void* i, void** o) { (void)t; (void)i; (void)o; return 0; }' | "${CC:-cc}" -shared -fPIC -x c -o "$work/libfound.so" -
printf '[SQLite3]\nDriver=%s\nUsageCount=1\n\n[Gone]\nDriver=/nowhere/libgone.so\n' "$work/libfound.so" >"$work/odbcinst.ini"

# What each example gives, in the page's order.
expected=("SQLite3	$work/libfound.so
Gone	/nowhere/libgone.so"
  "Gone	missing"
  "SQLite3
$work/libfound.so
Driver=$work/libfound.so
UsageCount=1"
  "$work/libfound.so
(none)")

# The commands: the blocks of the EXAMPLES section that start with quorbel.
mapfile -d '' commands < <(MANWIDTH=200 man -l "$page" 2>/dev/null | python3 -c '
import re, sys
section = sys.stdin.read().split("\nEXAMPLES\n")[1].split("\nSEE ALSO")[0]
for block in section.split("\n\n"):
    lines = [line[7:] for line in block.splitlines()]
    if lines and lines[0].startswith("quorbel"):
        sys.stdout.write("\n".join(lines) + "\0")')

passed=0
failed=0
[ "${#commands[@]}" = "${#expected[@]}" ] || { echo "FAIL: ${#commands[@]} examples, ${#expected[@]} expected"; failed=1; }
for i in "${!commands[@]}"; do
  got=$(cd "$work" && PATH=$work/bin:$PATH ODBCSYSINI=$work ODBCINSTINI=odbcinst.ini sh -c "${commands[$i]}" 2>/dev/null)
  if [ "$got" = "${expected[$i]:-}" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s\ngave:\n%s\n' "${commands[$i]}" "$got"
  fi
done
echo "man page examples: $passed passed, $failed failed"
[ "$failed" = 0 ]
