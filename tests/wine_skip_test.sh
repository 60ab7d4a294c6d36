#!/usr/bin/env bash
# The Wine tests of a 32-bit program are skipped, with their reason, where
# the machine cannot execute Wine's 32-bit loader, and run where it can; a
# 64-bit program never depends on that loader.
# Usage: wine_skip_test.sh PROGRAM WORKDIR
set -u
program=$1
work=$2
tests=$(dirname "$0")
rm -rf "$work"
mkdir -p "$work"
source "$tests/checks.sh"

# An ELF program for a machine that no kernel here executes.
head -c 64 /bin/true >"$work/foreign"
printf '\001\000' | dd of="$work/foreign" bs=1 seek=18 conv=notrunc 2>/dev/null
chmod +x "$work/foreign"

# decision LOADER: what the probe decides for the program with that loader.
decision() {
  (QUORBEL_WINE32_LOADER=$1 && source "$tests/wine.sh" && skip_unless_wine_runs "$program" &&
    echo runs)
  echo "status $?"
}

skipped="SKIPPED: this machine cannot execute Wine's 32-bit loader $work/foreign (Exec format error)"
check "a loader that executes runs the tests" "$(decision /bin/true)" $'runs\nstatus 0'
if [ "$(source "$tests/wine.sh" && pe_bits "$program")" = 64 ]; then
  check "a 64-bit program does not need the 32-bit loader" "$(decision "$work/foreign")" $'runs\nstatus 0'
else
  check "a loader that cannot execute skips, saying why" "$(decision "$work/foreign")" "$skipped"$'\nstatus 77'
  out=$(QUORBEL_WINE32_LOADER=$work/foreign bash "$tests/end_to_end.sh" "$program" "$work/e2e" 2>&1)
  check "the end-to-end test skips" "$out (status $?)" "$skipped (status 77)"
  # wine32:i386 not installable: the reason is apt's.
  mkdir -p "$work/bin"
  printf '#!/bin/sh\necho " libwine:i386 : Depends: libgst:i386 but it is not installable"\nexit 100\n' >"$work/bin/apt-get"
  chmod +x "$work/bin/apt-get"
  check "a loader that is not installed skips, with apt's reason" "$(PATH=$work/bin:$PATH decision "$work/none")" \
    "SKIPPED: Wine's 32-bit loader $work/none is not installed (wine32:i386: libwine:i386 : Depends: libgst:i386 but it is not installable)"$'\nstatus 77'
fi

checks_done "wine skip"
