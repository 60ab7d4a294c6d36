#!/usr/bin/env bash
# The Driver Manager judges quorbel -d -c: for each data source it lists,
# its word and a connection by the source's name through the real Driver
# Manager (isql for unixODBC, which connects as SQLConnect does; iodbctest
# for iODBC) must agree, and the word must be the one each row expects. The
# drivers built here can only make an environment: one that loads answers
# IM001 (no connect function), one without a driver IM004.
#
# Usage: judge_sources.sh PROGRAM WORKDIR   (QUORBEL_DRIVER_MANAGER=iODBC for iODBC)
set -u
program=$(realpath "$1")
tests=$(cd "$(dirname "$0")" && pwd)
work=$2
rm -rf "$work"
mkdir -p "$work/home" "$work/a" "$work/b"
cd "$work" || exit 1
source "$tests/checks.sh"
iodbc=false
[ "${QUORBEL_DRIVER_MANAGER:-}" = iODBC ] && iodbc=true

printf 'short SQLAllocHandle(short t, void* i, void** o) { (void)t; (void)i; *o = (void*)1; return 0; }\n' >entry.c
cc -shared -fPIC -o "$work/libjudge.so" entry.c
echo 'int judge_nothing(void) { return 0; }' | cc -shared -fPIC -x c -o "$work/libnone.so" -
printf '[Judge]\nDriver=%s\n[Broken]\nDriver=/nonexistent/libx.so\n[NoEntry]\nDriver=%s\n[Drv64]\nDriver=/no/32.so\nDriver64=%s\n' \
  "$work/libjudge.so" "$work/libnone.so" "$work/libjudge.so" | tee a/odbcinst.ini b/odbcinst.ini >odbcinst.ini
# Set a: the seven sources of a first try (iODBC lists those of
# [ODBC Data Sources], unixODBC the sections), a driver without its entry
# point, Driver64, and a user source over a system one of the same name.
sources="good=Judge lower=judge typo=Judge 1 bypath=$work/libjudge.so broken=Broken nodriver= noentry=NoEntry drv64=Drv64 shadow=Broken"
{
  echo '[ODBC Data Sources]' && sed 's/\([a-z0-9]*\)=[^=]*\( \|$\)/\1=x\n/g' <<<"$sources absent=x"
  sed 's/\([a-z0-9]*\)=\([^=]*\)\( \|$\)/[\1]\nDriver=\2\n/g; s/^Driver=$/Description=none/M' <<<"$sources"
} >a/odbc.ini
printf '[ODBC Data Sources]\nshadow=Judge\n\n[shadow]\nDriver=Judge\nPassword=hunter2\n' >a/user.ini
# Set b: a default source, which unixODBC's SQLConnect goes on to.
printf '[ODBC Data Sources]\nDefault=Judge\nnodriver=x\ntypo=x\n' >b/odbc.ini
printf '[Default]\nDriver=Judge\n[nodriver]\nDescription=x\n[typo]\nDriver=Judge 1\n' >>b/odbc.ini
: >b/user.ini

# with SET COMMAND...: runs the command with a set's files, the user's ODBCINI.
with() {
  local set=$1 && shift
  if $iodbc; then
    ODBCINSTINI=$work/odbcinst.ini ODBCINI=$work/$set/user.ini SYSODBCINI=$work/$set/odbc.ini HOME=$work/home "$@"
  else
    ODBCSYSINI=$work/$set ODBCINI=$work/$set/user.ini HOME=$work/home "$@"
  fi
}

# connect SET DSN: the Driver Manager's answer, as a class: loads, IM002,
# IM003, IM004 or "cannot open" (unixODBC's 01000 for a library).
connect() {
  local out
  if $iodbc; then out=$(with "$1" iodbctest "DSN=$2" </dev/null 2>&1); else out=$(echo quit | with "$1" isql -v "$2" 2>&1); fi
  case $out in
    *IM001* | *Connected* | *Driver:*) echo loads ;;
    *IM002* | *IM003* | *IM004*) grep -o -m1 'IM00[234]' <<<"$out" ;;
    *"Can't open lib"*) echo "cannot open" ;;
    *) echo "other: $out" ;;
  esac
}

# The class each word promises.
promised() {
  case $1 in
    ok) echo loads ;;
    not-a-driver) echo IM004 ;;
    no-driver) echo IM002 ;;
    unknown-driver) $iodbc && echo IM003 || echo IM002 ;;
    *) $iodbc && echo IM003 || echo "cannot open" ;;
  esac
}

# quorbel -d -c on a set: "SCOPE NAME WORD" a line.
listing() {
  with "$1" "$program" -d -c -j 2>/dev/null | python3 -c '
import json, sys
for line in sys.stdin: o = json.loads(line); print(o["scope"], o["dsn"], o["check"])'
}

# Rows: SET SCOPE NAME|unixODBC's word|iODBC's word ("-": not listed there).
rows="a system good|ok|ok
a system lower|ok|ok
a system typo|unknown-driver|unknown-driver
a system absent|-|no-driver
a system bypath|ok|ok
a system broken|missing|missing
a system nodriver|no-driver|no-driver
a system noentry|not-a-driver|not-a-driver
a system drv64|ok|missing
a user shadow|ok|ok
a system shadow|ok|ok
b system Default|ok|ok
b system nodriver|ok|no-driver
b system typo|ok|unknown-driver"
for set in a b; do
  listing "$set" >"listed.$set"
  while IFS='|' read -r key unix_word iodbc_word; do
    [ "${key%% *}" = "$set" ] || continue
    wanted=$unix_word
    $iodbc && wanted=$iodbc_word
    [ "$wanted" = - ] && continue
    scope_name=${key#* }
    got=$(grep -m1 "^$scope_name " "listed.$set" | cut -d' ' -f3-)
    check "$set $scope_name: the word" "$got" "$wanted"
    check "$set $scope_name: the Driver Manager agrees" "$(connect "$set" "${scope_name#* }")" "$(promised "$got")"
  done <<<"$rows"
done
check "a user source's password is not written" "$(with a "$program" -d -a 2>/dev/null | grep -c hunter2)" 0
checks_done "judge sources"
