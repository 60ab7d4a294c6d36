#!/usr/bin/env bash
# Builds the Debian package of a build folder, unpacks it without installing
# it and runs the quorbel inside; checks its dependencies, its man page and
# what lintian says.
# Usage: deb_test.sh CPACK BUILD_DIR VERSION
set -u
cpack=$1
build=$2
version=$3
work=$build/tests/deb
rm -rf "$work"
mkdir -p "$work/root" "$work/ini"
source "$(dirname "$0")/checks.sh"

(cd "$build" && "$cpack" -G DEB >/dev/null) || { echo "cpack failed"; exit 1; }
deb=$build/quorbel_${version}_$(dpkg --print-architecture).deb
dpkg-deb -x "$deb" "$work/root" || { echo "cannot unpack $deb"; exit 1; }
check "the package's files" "$(cd "$work/root" && find . -type f | sort | tr '\n' ' ')" \
  "./usr/bin/quorbel ./usr/share/doc/quorbel/README.md ./usr/share/doc/quorbel/changelog.gz ./usr/share/doc/quorbel/copyright ./usr/share/doc/quorbel/examples/quorbel-inventory.yml ./usr/share/man/man1/quorbel.1.gz "
check "it depends on unixODBC's library" "$(dpkg-deb -f "$deb" Depends | grep -o 'libodbc2')" libodbc2
check "the man page's sections" "$(zcat "$work/root/usr/share/man/man1/quorbel.1.gz" | sed -n 's/^\.SH //p' | tr '\n' '|')" \
  "NAME|SYNOPSIS|DESCRIPTION|OPTIONS|OUTPUT FORMAT|CHECK WORDS|EXIT STATUS|ENVIRONMENT|EXAMPLES|SEE ALSO|"

program=$work/root/usr/bin/quorbel
check "the packaged program's version" "$("$program" --version 2>/dev/null)" "quorbel $version"
printf '[Packaged driver]\nDriver=/opt/packaged.so\n' >"$work/ini/odbcinst.ini"
check "the packaged program lists drivers" "$(ODBCSYSINI=$work/ini "$program" 2>/dev/null)" \
  $'Packaged driver\t/opt/packaged.so'
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb" 2>/dev/null >"$work/lintian"
  check "lintian finds no error" "$? $(grep '^E:' "$work/lintian")" "0 "
fi

checks_done "deb package"
