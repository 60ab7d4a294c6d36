#!/usr/bin/env bash
# The Driver Manager judges quorbel -c: for each case, a driver whose
# library the case builds (or names), quorbel's word and a connection
# through the real Driver Manager must agree, "ok" exactly when it loads
# the library. isql (unixODBC) and iodbctest (iODBC) report a library that
# loads but holds no driver with IM004, one that cannot be loaded otherwise.
#
# Usage: judge.sh PROGRAM WORKDIR   (QUORBEL_DRIVER_MANAGER=iODBC for iODBC)
set -u
program=$(realpath "$1")
work=$2
rm -rf "$work"
lib=$work/lib
mkdir -p "$lib/sub" "$lib/arm" "$work/%WINDIR%"
cd "$work" || exit 1
passed=0
failed=0

# Libraries built here: one that loads, programs, cut and doctored copies,
# and libraries whose dependencies are gone, found by $ORIGIN, or too old.
build() { "${CC:-cc}" -fPIC -x c "$@" || echo "cannot build $*"; }
echo 'int judge_entry(void) { return 1; }' >entry.c
build -shared -o "$lib/libjudge.so" entry.c
cp "$lib/libjudge.so" "$lib/.judge.so"
cp "$lib/libjudge.so" "$work/%WINDIR%/libjudge.so"
echo 'int main(void) { return 0; }' >main.c
build -pie -o "$lib/pie" main.c
build -static-pie -o "$lib/static-pie" main.c
head -c 64 "$lib/libjudge.so" >"$lib/cut64.so"
head -c 4096 "$lib/libjudge.so" >"$lib/cut4k.so"
# doctor NAME OFFSET BYTES: a copy of the library with bytes written at offset.
doctor() { cp "$lib/libjudge.so" "$lib/$1" && printf "$3" | dd of="$lib/$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }
doctor osabi.so 7 '\011'
doctor version.so 6 '\000'
doctor no-headers.so 56 '\000\000'
doctor header-size.so 54 '\067'
doctor arm/libjudge.so 18 '\267\000'
cp "$lib/arm/libjudge.so" "$lib/arm/.judge.so"
build -shared -o "$lib/libgone.so" entry.c
build -shared -o "$lib/libneeds.so" entry.c -L"$lib" -Wl,--no-as-needed -lgone
rm "$lib/libgone.so"
build -shared -o "$lib/sub/libdep.so" entry.c
build -shared -o "$lib/liborigin.so" entry.c -L"$lib/sub" -Wl,--no-as-needed -ldep -Wl,--enable-new-dtags,-rpath,'$ORIGIN/sub'
echo 'int judge_v(void) { return 2; }' >v.c
echo 'V_2 { global: judge_v; };' >v2.map
echo 'V_1 { global: judge_v; };' >v1.map
build -shared -o "$lib/sub/libv.so" v.c -Wl,--version-script=v2.map
echo 'int judge_v(void); int judge_uses(void) { return judge_v(); }' >uses.c
build -shared -o "$lib/libversioned.so" uses.c -L"$lib/sub" -lv -Wl,-rpath,'$ORIGIN/sub'
build -shared -o "$lib/sub/libv.so" v.c -Wl,--version-script=v1.map

# case|LD_LIBRARY_PATH|Driver value|word with unixODBC|word with iODBC
cases="position-independent program||$lib/pie|not-a-library|not-a-library
static position-independent program||$lib/static-pie|not-a-library|not-a-library
its first 64 bytes||$lib/cut64.so|not-a-library|not-a-library
its first 4 KiB||$lib/cut4k.so|not-a-library|not-a-library
another OS ABI||$lib/osabi.so|not-a-library|not-a-library
identification version 0||$lib/version.so|not-a-library|not-a-library
no program headers||$lib/no-headers.so|not-a-library|not-a-library
program headers of another size||$lib/header-size.so|not-a-library|not-a-library
a bare name the cache holds||libz.so.1|ok|missing
';' in LD_LIBRARY_PATH|/nowhere;$lib|libjudge.so|ok|missing
another machine first|$lib/arm:$lib|libjudge.so|mismatch:arm64|missing
a dot name, another machine first|$lib/arm:$lib|.judge.so|mismatch:arm64|ok
relative to the working folder||./lib/libjudge.so|ok|ok
a %WINDIR% folder||%WINDIR%/libjudge.so|ok|missing
a folder name over 255 bytes||$work/$(printf '%300s' '' | tr ' ' d)/libjudge.so|missing|missing
a dependency that is gone||$lib/libneeds.so|missing-dependency:libgone.so|missing-dependency:libgone.so
a dependency by \$ORIGIN||$lib/liborigin.so|ok|ok
a symbol version the dependency lacks||$lib/libversioned.so|missing-version:libv.so:V_2|missing-version:libv.so:V_2"

column=4
[ "${QUORBEL_DRIVER_MANAGER:-}" = iODBC ] && column=5
export ODBCSYSINI=$work ODBCINSTINI=$work/odbcinst.ini
[ "$column" = 4 ] && ODBCINSTINI=odbcinst.ini
while IFS='|' read -r name path value words; do
  word=$(cut -d'|' -f$((column - 3)) <<<"$words")
  { [ "$column" = 5 ] && printf '[ODBC Drivers]\nJudge=Installed\n\n'; printf '[Judge]\nDriver=%s\n' "$value"; } >odbcinst.ini
  said=$(LD_LIBRARY_PATH=$path "$program" -b -c 2>/dev/null | cut -f2)
  if [ "$column" = 4 ]; then
    verdict=$(LD_LIBRARY_PATH=$path isql -v -k "DRIVER={Judge};" </dev/null 2>&1)
  else
    verdict=$(LD_LIBRARY_PATH=$path iodbctest "DRIVER={Judge}" </dev/null 2>&1)
  fi
  loaded=no agrees=no
  grep -q IM004 <<<"$verdict" && loaded=yes
  [ "$said" = ok ] && agrees=yes
  if [ "$said" = "$word" ] && [ "$agrees" = "$loaded" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name: quorbel says '$said' (expected '$word'), the Driver Manager loaded it: $loaded"
    grep -m1 -E 'IM00|01000' <<<"$verdict"
  fi
done <<<"$cases"

echo "judged by ${QUORBEL_DRIVER_MANAGER:-unixODBC}: $passed passed, $failed failed"
[ "$failed" = 0 ]
