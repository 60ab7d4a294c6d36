#!/usr/bin/env bash
# Installs the toolchains and runs every test: unit and end-to-end tests of
# the native program, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzzer, and both Windows programs under
# Wine. Goes through every build and fails if any of them failed.
set -u
cd "$(dirname "$0")/.."
scripts/install-packages.sh g++ cmake make googletest libgtest-dev unixodbc-dev odbcinst \
  libsqliteodbc clang libclang-rt-14-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 \
  wine wine64 wine32:i386 perl || exit 1

# build_and_test PRESET: configures, builds (showing the log only when the
# build fails) and runs the tests of one preset.
build_and_test() {
  local log=build/$1.log
  mkdir -p build
  cmake --preset "$1" -DBUILD_TESTING=ON >"$log" 2>&1 &&
    cmake --build --preset "$1" -j"$(nproc)" >>"$log" 2>&1 || {
    cat "$log"
    return 1
  }
  ctest --preset "$1"
}

failed=()
for preset in linux sanitize fuzz win32 win64; do
  echo "== $preset"
  build_and_test "$preset" || failed+=("$preset")
done

if [ "${#failed[@]}" != 0 ]; then
  echo "failed builds: ${failed[*]}"
  exit 1
fi
echo "all builds passed"
