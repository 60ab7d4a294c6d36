#!/usr/bin/env bash
# Builds the native quorbel and the bare SQLDrivers loop, and where
# mingw-w64 and Wine's 64-bit loader are installed the 64-bit Windows
# quorbel, then runs the benchmark. Arguments: none; BENCH_RUNS sets the runs
# per command, BENCH_ONLY=versions or BENCH_ONLY=loads measures only -v or
# only the loads beside the system loader's (see bench.py).
set -eu
cd "$(dirname "$0")/.."
scripts/install-packages.sh g++ cmake make googletest libgtest-dev unixodbc-dev odbcinst \
  odbc-postgresql odbc-mariadb tdsodbc libsqliteodbc valgrind python3 time
cmake --preset linux -DBUILD_TESTING=ON >/dev/null
cmake --build --preset linux --target quorbel bare_drivers_loop >/dev/null
windows=()
if [ "${BENCH_ONLY:-}" != versions ] && command -v x86_64-w64-mingw32-g++ >/dev/null &&
  [ -x "${QUORBEL_WINE64_LOADER:-/usr/lib/wine/wine64}" ]; then
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 --target quorbel >/dev/null
  windows=(build/win64)
fi
exec python3 bench/bench.py build/linux "${windows[@]}"
