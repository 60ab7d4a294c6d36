#!/usr/bin/env bash
# Installs the toolchains and runs every test: unit and end-to-end tests of
# the native program against unixODBC and against iODBC, the same under
# AddressSanitizer and UndefinedBehaviorSanitizer, the fuzzer, and both
# Windows programs under Wine. Goes through every build, ends with one line
# per build naming what was skipped and why, and fails if anything failed.
set -u
cd "$(dirname "$0")/.."
# The 32-bit Wine is optional: where it cannot be installed (its i386 index
# missing while a mirror syncs), the 32-bit program's Wine tests skip.
scripts/install-packages.sh --optional wine32:i386 g++ cmake make googletest libgtest-dev unixodbc-dev odbcinst patchelf \
  libsqliteodbc odbc-postgresql odbc-mariadb tdsodbc rpm clang libclang-rt-14-dev g++-mingw-w64-i686 \
  g++-mingw-w64-x86-64 wine wine64 perl dpkg-dev lintian python3-yaml libiodbc2 unixodbc iodbc man-db || exit 1
# Ansible's core alone, for the fleet recipe's test.
scripts/install-packages.sh --no-install-recommends ansible-core || exit 1

# build_and_test PRESET: configures, builds (showing the log only when the
# build fails) and runs the tests of one preset, keeping ctest's report.
build_and_test() {
  local log=build/$1.log
  mkdir -p build
  cmake --preset "$1" -DBUILD_TESTING=ON >"$log" 2>&1 &&
    cmake --build --preset "$1" -j"$(nproc)" >>"$log" 2>&1 || {
    cat "$log"
    echo "build failed" >"build/$1.ctest.log"
    return 1
  }
  ctest --preset "$1" 2>&1 | tee "build/$1.ctest.log"
  return "${PIPESTATUS[0]}"
}

# summarize PRESET: one line with the counts of ctest's report, each skipped
# test named with the reason it gave.
summarize() {
  awk -v preset="$1" -v details="build/$1/Testing/Temporary/LastTest.log" '
    BEGIN {
      while ((getline line < details) > 0) {
        if (match(line, /^[0-9]+\/[0-9]+ Testing: /)) test = substr(line, RLENGTH + 1)
        else if (line ~ /^SKIPPED: /) reason[test] = substr(line, 10)
      }
    }
    /build failed/ { build_failed = 1; failed++ }
    match($0, /Test +#[0-9]+: [^ ]+/) {
      name = substr($0, RSTART, RLENGTH); sub(/.*: /, "", name)
      if ($0 ~ / Passed /) passed++
      else if ($0 ~ /\*\*\*Skipped /) skipped_list = skipped_list " " name " (" reason[name] ");"
      else failed++
      if ($0 ~ /\*\*\*Skipped /) skipped++
    }
    END {
      printf "%s: %s%d passed, %d failed, %d skipped%s\n", preset,
        build_failed ? "build failed, " : "", passed, failed, skipped,
        skipped ? ":" skipped_list : ""
    }' "build/$1.ctest.log"
}

presets="linux sanitize linux-iodbc sanitize-iodbc fuzz win32 win64"
failed=()
for preset in $presets; do
  echo "== $preset"
  build_and_test "$preset" || failed+=("$preset")
done

echo
echo "== summary"
for preset in $presets; do summarize "$preset"; done |
  tee build/summary.log
# The closing line, in the form test reports end with.
awk '{
    sub(/^[^:]*: (build failed, )?/, "")
    split($0, n, /[^0-9]+/); p += n[1]; f += n[2]; s += n[3]
  }
  END { printf "total: %d passed, %d failed, %d skipped\n", p, f, s }' build/summary.log

[ "${#failed[@]}" = 0 ]
