#!/usr/bin/env bash
# Builds the Windows zip of a build folder, unpacks it as a user would and
# runs the quorbel.exe inside under Wine.
# Usage: package_test.sh CPACK BUILD_DIR PACKAGE_NAME  (WINEPREFIX set)
set -u
source "$(dirname "$0")/wine.sh"
cpack=$1
build=$2
name=$3
work=$build/tests/package
rm -rf "$work"
mkdir -p "$work/unpacked" "$work/ini"
export ODBCSYSINI=$work/ini
passed=0
failed=0

check() {
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s\n  wanted: %q\n  got:    %q\n' "$1" "$3" "$2"
  fi
}

skip_unless_wine_runs "$build/quorbel.exe"
(cd "$build" && "$cpack" -G ZIP >/dev/null) || { echo "cpack failed"; exit 1; }
(cd "$work/unpacked" && cmake -E tar xf "$build/$name.zip") || { echo "cannot unpack $name.zip"; exit 1; }
check "the zip's files" "$(cd "$work/unpacked" && find . -type f | sort | tr '\n' ' ')" \
  "./LICENSE ./README.md ./quorbel.exe "
check "the zip's program is the built one" "$(cmp "$work/unpacked/quorbel.exe" "$build/quorbel.exe" && echo same)" same

printf '[Packaged driver]\nDriver=packaged.dll\n' >"$work/ini/odbcinst.ini"
out=$(wine_program "$work/unpacked/quorbel.exe" -b 2>/dev/null | od -An -c | tr -s ' \n' ' ')
check "the unpacked program lists drivers" "$out" "$(printf 'Packaged driver\r\n' | od -An -c | tr -s ' \n' ' ')"

echo "package $name: $passed passed, $failed failed"
[ "$failed" = 0 ]
