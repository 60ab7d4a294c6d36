#!/usr/bin/env bash
# Builds the native quorbel and the bare SQLDrivers loop, then runs the
# benchmark. Arguments: none; BENCH_RUNS sets the runs per command.
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh g++ cmake make googletest libgtest-dev unixodbc-dev odbcinst \
  odbc-postgresql odbc-mariadb tdsodbc libsqliteodbc valgrind python3 time
cmake --preset linux -DBUILD_TESTING=ON >/dev/null
cmake --build --preset linux --target quorbel bare_drivers_loop >/dev/null
exec python3 bench/bench.py build/linux
