#!/usr/bin/env bash
# Builds the native quorbel and lists this machine's ODBC drivers. Installs
# what is missing, Debian's SQLite ODBC driver included, so that a fresh
# machine has a driver to list. Arguments go to quorbel.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh g++ cmake make unixodbc-dev odbcinst libsqliteodbc
cmake --preset linux -DBUILD_TESTING=OFF >/dev/null
cmake --build --preset linux --target quorbel >/dev/null
exec build/linux/quorbel "$@"
