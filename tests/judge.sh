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
edit_elf=$(realpath "$(dirname "$0")/elf_edit.py")
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
build -shared -o "$lib/libouter.so" entry.c -L"$lib" -Wl,--no-as-needed -lversioned -Wl,-rpath,'$ORIGIN'
doctor pad9.so 9 '\001'
build -shared -o "$lib/nodlopen.so" entry.c -Wl,-z,nodlopen

# Loads two and three libraries deep, each built to tell one rule of
# glibc's from its likeliest slip.
mkdir -p "$lib/s390" "$lib/text" "$lib/stub" "$lib/soname" "$lib/bfs" "$lib/anc/deps" "$lib/rpath"
doctor arm/libdep.so 18 '\267\000'
doctor s390/libdep.so 18 '\026\000'
echo 'not a library' >"$lib/text/libdep.so"
build -shared -o "$lib/libneedsdep.so" entry.c -L"$lib/sub" -Wl,--no-as-needed -ldep
# A file named libfoo.so whose SONAME is libfoo.so.1, and a second library
# that needs it by the SONAME.
build -shared -o "$lib/stub/libfoo.so" entry.c
build -shared -o "$lib/soname/libfoo.so" entry.c -Wl,-soname,libfoo.so.1
build -shared -o "$lib/soname/libsecond.so" entry.c -L"$lib/soname" -Wl,--no-as-needed -lfoo
build -shared -o "$lib/soname/libdriver.so" entry.c -L"$lib/stub" -L"$lib/soname" -Wl,--no-as-needed -lfoo -lsecond -Wl,-rpath,'$ORIGIN'
# Breadth first: libgoneb.so, needed by the driver, before libgonea.so,
# needed by the driver's first dependency.
build -shared -o "$lib/bfs/libgonea.so" entry.c
build -shared -o "$lib/bfs/libgoneb.so" entry.c
build -shared -o "$lib/bfs/liba.so" entry.c -L"$lib/bfs" -Wl,--no-as-needed -lgonea
build -shared -o "$lib/bfs/libdriver.so" entry.c -L"$lib/bfs" -Wl,--no-as-needed -la -lgoneb -Wl,-rpath,'$ORIGIN'
rm "$lib/bfs/libgonea.so" "$lib/bfs/libgoneb.so"
# $ORIGIN in the RPATH of the library that loaded the one that searches.
build -shared -o "$lib/anc/deps/libleaf.so" entry.c
build -shared -o "$lib/anc/deps/libmid.so" entry.c -L"$lib/anc/deps" -Wl,--no-as-needed -lleaf
build -shared -o "$lib/anc/libanc.so" entry.c -L"$lib/anc/deps" -Wl,--no-as-needed -lmid -Wl,--disable-new-dtags,-rpath,'$ORIGIN/deps'
# RPATH before LD_LIBRARY_PATH, RUNPATH after it.
build -shared -o "$lib/rpath/librp.so" entry.c -L"$lib/sub" -Wl,--no-as-needed -ldep -Wl,--disable-new-dtags,-rpath,'$ORIGIN/../sub'
build -shared -o "$lib/rpath/librun.so" entry.c -L"$lib/sub" -Wl,--no-as-needed -ldep -Wl,--enable-new-dtags,-rpath,'$ORIGIN/../sub'
# $PLATFORM as glibc expands it, which its debugging output shows.
echo 'int main(void) { return 0; }' | build -o "$work/platform" - -L"$lib" -Wl,--no-as-needed -ljudge -Wl,-rpath,'/judge-platform/$PLATFORM'
platform=$(LD_DEBUG=libs "$work/platform" 2>&1 | sed -n 's|.*search path=/judge-platform/\([^/:]*\).*|\1|p' | head -1)
mkdir -p "$lib/plat/$platform"
cp "$lib/sub/libdep.so" "$lib/plat/$platform/"
build -shared -o "$lib/plat/libdriver.so" entry.c -L"$lib/sub" -Wl,--no-as-needed -ldep -Wl,-rpath,'$ORIGIN/$PLATFORM'
# The subfolders glibc tries in each folder, best first, as its debugging
# output lists them: for each, a load that is ok only when it is tried
# before the next one, which holds a file that is not a library.
build -shared -o "$lib/libneedshw.so" entry.c -L"$lib/sub" -Wl,--no-as-needed -ldep
IFS=: read -r -a tried <<<"$(LD_DEBUG=libs LD_LIBRARY_PATH=$lib/hw LD_PRELOAD=libjudge-none.so "$work/platform" 2>&1 |
  sed -n "s|^.*search path=\(.*\)[[:space:]]*(LD_LIBRARY_PATH)\$|\1|p" | head -1 | sed "s|$lib/hw/\?||g; s/[[:space:]]*\$//")"
hwcases=""
for ((k = 0; k + 1 < ${#tried[@]}; k++)); do
  mkdir -p "$lib/hw$k/${tried[$k]}" "$lib/hw$k/${tried[$k + 1]}"
  cp "$lib/sub/libdep.so" "$lib/hw$k/${tried[$k]}/"
  cp "$lib/text/libdep.so" "$lib/hw$k/${tried[$k + 1]}/"
  hwcases+=$'\n'"in ${tried[$k]:-the folder} before ${tried[$k + 1]:-the folder}|LD_LIBRARY_PATH=$lib/hw$k|$lib/libneedshw.so|ok|ok"
done
# A library that only the loader's cache finds, where this test may add a
# folder to it (as root).
cached=""
if [ -w /etc/ld.so.conf.d ] && command -v ldconfig >/dev/null; then
  mkdir -p "$lib/cached"
  build -shared -o "$lib/cached/libjudgecached.so" entry.c -Wl,-soname,libjudgecached.so
  build -shared -o "$lib/libneedscached.so" entry.c -L"$lib/cached" -Wl,--no-as-needed -ljudgecached
  conf=/etc/ld.so.conf.d/zz-quorbel-judge-$$.conf
  trap 'rm -f "$conf"; ldconfig' EXIT
  echo "$lib/cached" >"$conf" && ldconfig
  cached=$'\n'"a dependency only the cache finds||$lib/libneedscached.so|ok|ok"
else
  echo "skipped: a dependency only the cache finds (needs root to add a folder to /etc/ld.so.cache)"
fi

# Libraries the loader refuses while it maps them, or dies of; and what it
# takes though a reader might not: each a copy of one with a field changed.
edit() { python3 "$edit_elf" "$lib/libjudge.so" "$lib/$1" "${@:2}"; }
edit unaligned.so load 0 vaddr +1
edit swapped.so swap-loads 0 3
edit overlapping.so load 1 vaddr -0x1000
edit no-code.so load 1 filesz 0
edit dynamic-at-0.so dynamic vaddr 0
edit short-dynamic.so dynamic filesz 16
edit strsz-0.so tag 10 0
build -shared -o "$lib/libunusedrpath.so" entry.c -Wl,--disable-new-dtags,-rpath,/unused
python3 "$edit_elf" "$lib/libunusedrpath.so" "$lib/unmapped-rpath.so" tag 15 0x7fffffff
build -shared -o "$lib/definitions.so" v.c -Wl,--version-script=v1.map
python3 "$edit_elf" "$lib/definitions.so" "$lib/definition-2.so" verdef-version 2
# Version requirements of a library its DT_NEEDED no longer names.
build -shared -o "$lib/dangling.so" uses.c -L"$lib/sub" -lv -Wl,-rpath,'$ORIGIN/sub'
patchelf --remove-needed libv.so "$lib/dangling.so"
# Tokens in a needed name without a '/', and an empty one: the program.
mkdir -p "$lib/platform-named"
cp "$lib/libjudge.so" "$lib/platform-named/lib\$PLATFORM.so"
cp "$lib/libjudge.so" "$lib/lib$platform.so"
build -shared -o "$lib/needs-platform.so" entry.c -L"$lib/platform-named" -Wl,--no-as-needed -l':lib$PLATFORM.so' -Wl,-rpath,'$ORIGIN'
build -shared -o "$lib/needs-empty.so" entry.c -L"$lib/platform-named" -Wl,--no-as-needed -l':lib$PLATFORM.so'
python3 "$edit_elf" "$lib/needs-empty.so" "$lib/needs-empty.so" tag 1 0
# Chains of 1,025 libraries, each needing the next: the load is followed
# to its end, a missing last one or a whole chain.
build -shared -o "$work/libqa0001.so" entry.c
build -shared -o "$work/libqa0000.so" entry.c -L"$work" -Wl,--no-as-needed -lqa0001 -Wl,-rpath,'$ORIGIN'
mkdir -p "$lib/chain"
python3 - "$work/libqa0000.so" "$lib/chain" <<'PYTHON'
import sys
template = open(sys.argv[1], "rb").read()
for chain in ("qa", "qb"):
    for i in range(1025):
        name = f"lib{chain}{i:04d}.so".encode()
        data = template.replace(b"libqa0001.so\0", f"lib{chain}{i + 1:04d}.so\0".encode())
        open(f"{sys.argv[2]}/{name.decode()}", "wb").write(data)
PYTHON
cp "$lib/libjudge.so" "$lib/chain/libqb1025.so"

# case|environment (NAME=value ...)|Driver value|word with unixODBC|word with iODBC
cases="position-independent program||$lib/pie|not-a-library|not-a-library
static position-independent program||$lib/static-pie|not-a-library|not-a-library
its first 64 bytes||$lib/cut64.so|not-a-library|not-a-library
its first 4 KiB||$lib/cut4k.so|not-a-library|not-a-library
another OS ABI||$lib/osabi.so|not-a-library|not-a-library
identification version 0||$lib/version.so|not-a-library|not-a-library
no program headers||$lib/no-headers.so|not-a-library|not-a-library
program headers of another size||$lib/header-size.so|not-a-library|not-a-library
a bare name the cache holds||libz.so.1|ok|missing
';' in LD_LIBRARY_PATH|LD_LIBRARY_PATH=/nowhere;$lib|libjudge.so|ok|missing
another machine first|LD_LIBRARY_PATH=$lib/arm:$lib|libjudge.so|mismatch:arm64|missing
a dot name, another machine first|LD_LIBRARY_PATH=$lib/arm:$lib|.judge.so|mismatch:arm64|ok
relative to the working folder||./lib/libjudge.so|ok|ok
a %WINDIR% folder||%WINDIR%/libjudge.so|ok|missing
a folder name over 255 bytes||$work/$(printf '%300s' '' | tr ' ' d)/libjudge.so|missing|missing
a dependency that is gone||$lib/libneeds.so|missing-dependency:libgone.so|missing-dependency:libgone.so
a dependency by \$ORIGIN||$lib/liborigin.so|ok|ok
a symbol version the dependency lacks||$lib/libversioned.so|missing-version:libv.so:V_2|missing-version:libv.so:V_2
a version its dependency's dependency lacks||$lib/libouter.so|missing-version:libv.so:V_2|missing-version:libv.so:V_2
padding byte 9 not zero||$lib/pad9.so|not-a-library|not-a-library
-z nodlopen||$lib/nodlopen.so|not-a-library|not-a-library
LTDL_LIBRARY_PATH before LD_LIBRARY_PATH|LTDL_LIBRARY_PATH=$lib/arm LD_LIBRARY_PATH=$lib|libjudge.so|mismatch:arm64|missing
two of other machines: the first one's|LD_LIBRARY_PATH=$lib/arm:$lib/s390|$lib/libneedsdep.so|mismatch-dependency:libdep.so:arm64|mismatch-dependency:libdep.so:arm64
a library of the load answers to its SONAME||$lib/soname/libdriver.so|ok|ok
the first failure, breadth first||$lib/bfs/libdriver.so|missing-dependency:libgoneb.so|missing-dependency:libgoneb.so
\$ORIGIN in the RPATH of the loading library||$lib/anc/libanc.so|ok|ok
RPATH before LD_LIBRARY_PATH|LD_LIBRARY_PATH=$lib/text|$lib/rpath/librp.so|ok|ok
RUNPATH after LD_LIBRARY_PATH|LD_LIBRARY_PATH=$lib/text|$lib/rpath/librun.so|not-a-library-dependency:libdep.so|not-a-library-dependency:libdep.so
\$PLATFORM as glibc expands it ($platform)||$lib/plat/libdriver.so|ok|ok
a load command not page-aligned||$lib/unaligned.so|not-a-library|not-a-library
load commands out of order||$lib/swapped.so|not-a-library|not-a-library
load commands overlapping||$lib/overlapping.so|not-a-library|not-a-library
code of no size in the file||$lib/no-code.so|not-a-library|not-a-library
the dynamic section at address 0||$lib/dynamic-at-0.so|not-a-library|not-a-library
a dynamic section read past its size||$lib/short-dynamic.so|ok|ok
DT_STRSZ 0||$lib/strsz-0.so|ok|ok
an RPATH past the file that no search reads||$lib/unmapped-rpath.so|ok|ok
an unknown version record nobody asks for||$lib/definition-2.so|ok|ok
versions required of a library not needed||$lib/dangling.so|not-a-library|not-a-library
\$PLATFORM in a needed name without a '/'||$lib/needs-platform.so|ok|ok
an empty needed name: the program||$lib/needs-empty.so|ok|ok
a chain of 1,025 libraries, the last gone||$lib/chain/libqa0000.so|missing-dependency:libqa1025.so|missing-dependency:libqa1025.so
a chain of 1,025 libraries||$lib/chain/libqb0000.so|ok|ok$hwcases$cached"

column=4
[ "${QUORBEL_DRIVER_MANAGER:-}" = iODBC ] && column=5
export ODBCSYSINI=$work ODBCINSTINI=$work/odbcinst.ini
[ "$column" = 4 ] && ODBCINSTINI=odbcinst.ini
while IFS='|' read -r name environment value words; do
  word=$(cut -d'|' -f$((column - 3)) <<<"$words")
  { [ "$column" = 5 ] && printf '[ODBC Drivers]\nJudge=Installed\n\n'; printf '[Judge]\nDriver=%s\n' "$value"; } >odbcinst.ini
  # shellcheck disable=SC2086 # the assignments are words
  said=$(env $environment "$program" -b -c 2>/dev/null | cut -f2)
  if [ "$column" = 4 ]; then
    verdict=$(env $environment isql -v -k "DRIVER={Judge};" </dev/null 2>&1)
  else
    verdict=$(env $environment iodbctest "DRIVER={Judge}" </dev/null 2>&1)
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
