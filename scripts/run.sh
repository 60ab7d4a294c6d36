#!/usr/bin/env bash
# Builds the native quorbel as a Debian package and installs it with apt-get,
# so that `quorbel` is on PATH and `apt-get remove quorbel` takes it away
# again; then lists this machine's ODBC drivers. Installs what is missing:
# Debian's SQLite ODBC driver, so that a fresh machine has a driver to list,
# and jq, which the README's examples use. Arguments go to quorbel.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh g++ cmake make unixodbc-dev odbcinst libsqliteodbc dpkg-dev jq python3
cmake --preset linux -DBUILD_TESTING=OFF >/dev/null
cmake --build --preset linux --target package >build/linux/package.log 2>&1 || {
  cat build/linux/package.log
  exit 1
}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/linux/CMakeCache.txt)
package=build/linux/quorbel_${version}_$(dpkg --print-architecture).deb
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
# The same version again replaces what an earlier build installed.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "./$package" \
  >build/linux/install.log 2>&1 || {
  cat build/linux/install.log
  exit 1
}
echo "quorbel $version is installed as $(command -v quorbel) (apt-get remove quorbel removes it)" >&2
exec quorbel "$@"
