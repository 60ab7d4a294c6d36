#!/usr/bin/env bash
# Checks a built Windows quorbel.exe as a user receives it: it needs only
# system DLLs, stays small, and carries its manifest and version only in its
# 64-bit form.
# Usage: check_windows_program.sh PROGRAM OBJDUMP
set -u
program=$1
objdump=$2
passed=0
failed=0

check() {
  if eval "$2"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $1"
  fi
}

headers=$("$objdump" -p "$program")
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '[:lower:]' '[:upper:]' | sort)
echo "imports:" $imports
unexpected=$(grep -vxE 'ADVAPI32.DLL|KERNEL32.DLL|MSVCRT.DLL|ODBC32.DLL|VERSION.DLL' <<<"$imports")
check "imports only system DLLs (not: $unexpected)" '[ -z "$unexpected" ]'
check "imports ODBC32" 'grep -qx ODBC32.DLL <<<"$imports"'

size=$(stat -c %s "$program")
echo "size: $size bytes"
check "smaller than 64 KiB" '[ "$size" -lt 65536 ]'

resources=$(sed -n '/^The .rsrc Resource Directory section:/,/^$/p' <<<"$headers")
if grep -q 'file format pei-x86-64' <<<"$headers"; then
  check "two resources, of types RT_VERSION (16) and RT_MANIFEST (24)" \
    '[ "$(grep -c "Entry: ID" <<<"$resources")" = 6 ] && grep -q "Entry: ID: 0x000010," <<<"$resources" &&
     grep -q "Entry: ID: 0x000018," <<<"$resources"'
  check "the manifest asks to run as invoker, without UI access" \
    'grep -aq "level=\"asInvoker\" uiAccess=\"false\"" "$program"'
else
  check "no resource section" '! "$objdump" -h "$program" | grep -q "\.rsrc"'
  check "no resource directory" '[ -z "$resources" ]'
fi

echo "windows program: $passed passed, $failed failed"
[ "$failed" = 0 ]
