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
source "$(dirname "$0")/checks.sh"

skip_unless_wine_runs "$build/quorbel.exe"
(cd "$build" && "$cpack" -G ZIP >/dev/null) || { echo "cpack failed"; exit 1; }
(cd "$work/unpacked" && cmake -E tar xf "$build/$name.zip") || { echo "cannot unpack $name.zip"; exit 1; }
check "the zip's files" "$(cd "$work/unpacked" && find . -type f | sort | tr '\n' ' ')" \
  "./LICENSE ./README.md ./quorbel.exe "
check "the zip's program is the built one" "$(cmp "$work/unpacked/quorbel.exe" "$build/quorbel.exe" && echo same)" same

# shown COMMAND...: what the unpacked program writes, bytes made visible.
shown() { "$@" 2>/dev/null | od -An -c | tr -s ' \n' ' '; }
program=$work/unpacked/quorbel.exe
version=${name#quorbel-}
version=${version%-win*}
check "the program's version" "$(shown wine_program "$program" --version)" \
  "$(printf 'quorbel %s\r\n' "$version" | od -An -c | tr -s ' \n' ' ')"

# The program as a driver's library: its own version resource, read back
# by its -v (the 64-bit program carries one; the 32-bit one none).
printf '[Packaged driver]\nDriver=packaged.dll\n' >"$work/ini/odbcinst.ini"
bits=$(pe_bits "$program")
windows_path=$(wine_tool winepath -w "$program" 2>/dev/null | tr -d '\r')
wine_tool reg add 'HKLM\SOFTWARE\ODBC\ODBCINST.INI\Packaged driver' /v Driver /d "$windows_path" /f \
  "/reg:$bits" >/dev/null 2>&1 || echo "cannot add a key"
product_version=""
if [ "$bits" = 64 ]; then
  IFS=. read -r major minor patch <<<"$version"
  product_version=$(printf '\t%d.%02d.%02d.00' "$major" "$minor" "$patch")
fi
check "the unpacked program lists drivers" "$(shown wine_program "$program" -v)" \
  "$(printf 'Packaged driver\t%s%s\r\n' "$windows_path" "$product_version" | od -An -c | tr -s ' \n' ' ')"

checks_done "package $name"
