#!/usr/bin/env bash
# The Driver Manager judges quorbel -c: for each case, a driver whose
# library the case builds (or names), quorbel's word and a connection
# through the real Driver Manager must agree: "ok" exactly when it loads
# the library as a driver, "not-a-driver" exactly when it loads it but
# finds no driver in it. The libraries built here are drivers that can
# only make an environment, so isql (unixODBC, every symbol bound at load)
# and iodbctest (iODBC, run as a program linked with it) say IM001 for one
# that loads, IM004 for one that holds no driver, and anything else (an
# error, a process ended) for one that does not load.
#
# Usage: judge.sh PROGRAM WORKDIR   (QUORBEL_DRIVER_MANAGER=iODBC for iODBC)
set -u
program=$(realpath "$1")
edit_elf=$(realpath "$(dirname "$0")/elf_edit.py")
ld_debug_road=$(realpath "$(dirname "$0")/ld_debug_road.py")
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
cat >entry.c <<'C'
short SQLAllocHandle(short type, void* in, void** out) { (void)type; (void)in; *out = (void*)1; return 0; }
short SQLSetConnectAttr(void* c, int a, void* v, int l) { (void)c; (void)a; (void)v; (void)l; return 0; }
C
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
# A subfolder glibc lists twice (tls/x86_64 and x86_64 on AMD processors,
# where the platform is named as the hwcap) is judged once, at its first
# place; the folder itself ('') closes the list.
mapfile -t tried < <(printf '%s\n' "${tried[@]}" | awk '!seen[$0]++')
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
# Packed relocations, glibc's mark of them renamed (and made weak).
# (getppid, which no sanitizer's runtime defines in a process of its own.)
printf '#include <unistd.h>\nint judge_say(void) { return getppid(); }\n' >say.c
build -shared -o "$lib/packed.so" say.c entry.c -Wl,-z,pack-relative-relocs
python3 "$edit_elf" "$lib/packed.so" "$lib/packed-unmarked.so" weak-rename GLIBC_ABI_DT_RELR GLIBC_ABI_DT_RELS
python3 "$edit_elf" "$lib/packed.so" "$lib/packed-weak.so" weak-rename GLIBC_2.2.5 GLIBC_2.2.6
echo 'int judge_x; int* judge_p = &judge_x;' >defined.c
build -shared -o "$lib/defined.so" defined.c entry.c
python3 "$edit_elf" "$lib/defined.so" "$lib/type-33.so" rela -1 33
python3 "$edit_elf" "$lib/defined.so" "$lib/type-34.so" rela -1 34
build -shared -o "$lib/definitions.so" v.c entry.c -Wl,--version-script=v1.map
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
# References each object's load must bind: none defines them, a version
# the found library gives other symbols, hidden versions either side of
# the one an unversioned reference may take, three libraries deep, only
# the Driver Manager's library defines them, a weak one.
mkdir -p "$lib/bind/other" "$lib/bind/hidden1" "$lib/bind/hidden2" "$lib/bind/deep" "$lib/bind/deeper"
echo 'extern int judge_nothing; int* judge_p = &judge_nothing;' >data.c
echo 'int judge_missing(void); int judge_calls(void) { return judge_missing(); }' >call.c
build -shared -o "$lib/bind/data.so" data.c entry.c
build -shared -o "$lib/bind/call.so" call.c entry.c
build -shared -o "$lib/bind/other/libv.so" v.c -Wl,--version-script=v2.map
build -shared -o "$lib/bind/other.so" uses.c entry.c -L"$lib/bind/other" -lv -Wl,-rpath,'$ORIGIN/other'
printf 'V_1 { global: judge_v; };\nV_2 { global: judge_w; } V_1;\n' >vw.map
echo 'int judge_v(void) { return 1; } int judge_w(void) { return 2; }' >vw.c
build -shared -o "$lib/bind/other/libv.so" vw.c -Wl,--version-script=vw.map
printf 'V_1 { global: judge_other; };\nV_2 { } V_1;\nV_3 { local: *; } V_2;\n' >hidden.map
for k in 1 2; do
  build -shared -o "$lib/bind/hidden$k/libv.so" v.c
  build -shared -o "$lib/bind/hidden$k.so" uses.c entry.c -L"$lib/bind/hidden$k" -lv -Wl,-rpath,'$ORIGIN/hidden'$k
  printf '__asm__(".symver judge_v_at, judge_v@V_%s");\nint judge_v_at(void) { return 1; } int judge_other(void) { return 0; }\n' $k >hidden$k.c
  build -shared -o "$lib/bind/hidden$k/libv.so" hidden$k.c -Wl,--version-script=hidden.map
done
echo 'int judge_deep(void) { return 3; }' >deep.c
build -shared -o "$lib/bind/deep/libleaf.so" call.c
build -shared -o "$lib/bind/deeper/libleaf.so" deep.c
for folder in deep deeper; do
  build -shared -o "$lib/bind/$folder/libmid.so" entry.c -L"$lib/bind/$folder" -Wl,--no-as-needed -lleaf -Wl,-rpath,'$ORIGIN'
done
echo 'int judge_absent(void); int judge_calls_too(void) { return judge_absent(); }' >absent.c
build -shared -o "$lib/bind/deep.so" absent.c entry.c -L"$lib/bind/deep" -Wl,--no-as-needed -lmid -Wl,-rpath,'$ORIGIN/deep'
echo 'int judge_deep(void); int judge_calls(void) { return judge_deep(); }' >calls-deep.c
build -shared -o "$lib/bind/deeper.so" calls-deep.c entry.c -L"$lib/bind/deeper" -Wl,--no-as-needed -lmid -lleaf -Wl,-rpath,'$ORIGIN/deeper'
patchelf --remove-needed libleaf.so "$lib/bind/deeper.so"
echo 'short SQLDrivers(void*, unsigned short, char*, short, short*, char*, short, short*); short judge_list(void) { return SQLDrivers(0, 0, 0, 0, 0, 0, 0, 0); }' >manager.c
build -shared -o "$lib/bind/manager.so" manager.c entry.c
echo 'extern int judge_weak(void) __attribute__((weak)); int judge_calls(void) { return judge_weak ? judge_weak() : 0; }' >weak.c
build -shared -o "$lib/bind/weak.so" weak.c entry.c
# A driver by libltdl's names alone: the file's name, its last extension
# dropped, before _LTX_.
sed 's/short SQLAllocHandle/short libltx_so_LTX_SQLAllocHandle/' entry.c >ltx.c
build -shared -o "$lib/bind/libltx.so.1" ltx.c
# Symbols no program linked with the Driver Manager alone has.
echo 'extern char _ZSt4cout[]; char* judge_cout(void) { return _ZSt4cout; }' >cout.c
build -shared -o "$lib/bind/cout.so" cout.c entry.c
echo 'int SQLGetPrivateProfileString(const char*, const char*, const char*, char*, int, const char*); int judge_ini(void) { char b[8]; return SQLGetPrivateProfileString("a", "b", "", b, 8, "odbc.ini"); }' >ini.c
build -shared -o "$lib/bind/ini.so" ini.c entry.c
# The entry point absolute of value 0 (NULL to dlsym), undefined with a value.
python3 "$edit_elf" "$lib/libjudge.so" "$lib/bind/abs.so" symbol SQLAllocHandle shndx 0xfff1
python3 "$edit_elf" "$lib/bind/abs.so" "$lib/bind/abs0.so" symbol SQLAllocHandle value 0
python3 "$edit_elf" "$lib/libjudge.so" "$lib/bind/undef.so" symbol SQLAllocHandle shndx 0
# Relocations on x86-64: the PLT's alone, DT_REL (ignored), DT_RELACOUNT's.
printf 'int puts(const char*);\nint judge_puts(void) { return puts("x"); }\n' >puts.c
build -shared -nostartfiles -o "$lib/bind/plt.so" puts.c entry.c
python3 "$edit_elf" "$lib/libjudge.so" "$lib/bind/rel.so" retag 0x6ffffff9 17
python3 "$edit_elf" "$lib/libjudge.so" "$lib/bind/relacount-huge.so" tag 0x6ffffff9 0x1000000
python3 "$edit_elf" "$lib/libjudge.so" "$lib/bind/relative-type.so" rela 0 34
# Version indices without version tables; one name far past the strings.
printf 'int puts(const char*);\nint judge_unused(void) { return puts("x"); }\n' >unused.c
build -shared -o "$lib/bind/unused.so" unused.c entry.c
python3 "$edit_elf" "$lib/bind/unused.so" "$lib/bind/no-verneed.so" retag 0x6ffffffe 0x6ffffdf8
python3 "$edit_elf" "$lib/bind/unused.so" "$lib/bind/far-name.so" symbol judge_unused name 0x1000000
# GNU hash buckets below the chains, but the entry point's.
for i in 1 2 3 4 5 6 7 8; do echo "int judge_f$i(void) { return $i; }"; done >many.c
build -shared -o "$lib/bind/many.so" many.c entry.c
python3 "$edit_elf" "$lib/bind/many.so" "$lib/bind/low-buckets.so" buckets-but SQLAllocHandle 1
python3 "$edit_elf" "$lib/bind/many.so" "$lib/bind/open-chain.so" chain-open SQLAllocHandle
python3 "$edit_elf" "$lib/bind/unused.so" "$lib/bind/versym-far.so" versym puts 0x7ff0
# Entry points: ODBC 2's (an environment, a connection), a connection's alone,
# one a needed library holds.
echo 'short SQLAllocEnv(void** o) { *o = (void*)1; return 0; }' >env.c
echo 'short SQLAllocConnect(void* e, void** o) { (void)e; *o = (void*)1; return 0; }' >connect.c
build -shared -o "$lib/bind/odbc2.so" env.c connect.c
build -shared -o "$lib/bind/connect.so" connect.c
build -shared -o "$lib/bind/libshimcore.so" entry.c
build -shared -o "$lib/bind/shim.so" connect.c -L"$lib/bind" -Wl,--no-as-needed -lshimcore -Wl,-rpath,'$ORIGIN'
# Two drivers sharing a library whose need each finds in its own RPATH.
mkdir -p "$lib/share/a" "$lib/share/b"
echo 'int judge_x(void) { return 1; }' >x.c && build -shared -o "$lib/share/a/libdep.so" x.c
echo 'int judge_y(void) { return 1; }' >y.c && build -shared -o "$lib/share/b/libdep.so" y.c
echo 'int judge_x(void); int judge_shared(void) { return judge_x(); }' >shared.c
build -shared -o "$lib/share/libshared.so" shared.c -L"$lib/share/a" -Wl,--no-as-needed -ldep
for side in a b; do
  build -shared -o "$lib/share/drv$side.so" entry.c -L"$lib/share" -Wl,--no-as-needed -lshared \
    -Wl,--disable-new-dtags,-rpath,"\$ORIGIN:\$ORIGIN/$side"
done
# Libraries that load but hold no driver: a setup library, and one whose
# only SQLAllocHandle is the Driver Manager's own.
echo 'int ConfigDSN(void* w, unsigned short r, const char* d, const char* a) { (void)w; (void)r; (void)d; (void)a; return 1; }' >setup.c
build -shared -o "$lib/bind/setup.so" setup.c
build -shared -o "$lib/bind/managers.so" setup.c -Wl,--no-as-needed -l:libodbc.so.2
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

# case|environment (NAME=value ...)|Driver value|word with unixODBC|word with iODBC ("-": not judged)
cases="a data reference nothing defines||$lib/bind/data.so|undefined-symbol:judge_nothing|undefined-symbol:judge_nothing
a call nothing defines||$lib/bind/call.so|undefined-symbol:judge_missing|undefined-symbol:judge_missing
a version the found library gives other symbols||$lib/bind/other.so|undefined-symbol:judge_v@V_2|undefined-symbol:judge_v@V_2
an unversioned reference, the first version hidden||$lib/bind/hidden1.so|ok|ok
an unversioned reference, the second version hidden||$lib/bind/hidden2.so|undefined-symbol:judge_v|undefined-symbol:judge_v
the third library's call nothing defines, bound before the first's||$lib/bind/deep.so|undefined-symbol:judge_missing|undefined-symbol:judge_missing
a call the dependency's dependency answers||$lib/bind/deeper.so|ok|ok
a call only the Driver Manager's library answers||$lib/bind/manager.so|ok|ok
a weak reference nothing defines||$lib/bind/weak.so|ok|ok
a driver by libltdl's names||$lib/bind/libltx.so.1|ok|not-a-driver
a setup library||$lib/bind/setup.so|not-a-driver|not-a-driver
buckets below the chains, but the entry point's||$lib/bind/low-buckets.so|ok|ok
the entry point's chain without its end||$lib/bind/open-chain.so|ok|ok
a version index past the file's versions||$lib/bind/versym-far.so|not-a-library|not-a-library
an ODBC 2 driver: SQLAllocEnv, no SQLAllocHandle||$lib/bind/odbc2.so|ok|ok
SQLAllocConnect alone||$lib/bind/connect.so|not-a-driver|not-a-driver
the entry point in a library the driver needs||$lib/bind/shim.so|ok|ok
a shared library's need met by the first driver's RPATH||$lib/share/drva.so|ok|ok
and not by the second's||$lib/share/drvb.so|undefined-symbol:judge_x|undefined-symbol:judge_x
a symbol only this program's C++ runtime defines||$lib/bind/cout.so|undefined-symbol:_ZSt4cout|undefined-symbol:_ZSt4cout
a call only the installer library answers||$lib/bind/ini.so|undefined-symbol:SQLGetPrivateProfileString|undefined-symbol:SQLGetPrivateProfileString
the entry point absolute, of value 0||$lib/bind/abs0.so|not-a-driver|not-a-driver
the entry point undefined with a value||$lib/bind/undef.so|ok|ok
relocations of the procedure linkage table alone||$lib/bind/plt.so|ok|ok
DT_REL, which glibc ignores on x86-64||$lib/bind/rel.so|ok|ok
DT_RELACOUNT past the relative entries||$lib/bind/relacount-huge.so|not-a-library|not-a-library
a relative entry of another type||$lib/bind/relative-type.so|not-a-library|not-a-library
version indices, no version tables||$lib/bind/no-verneed.so|not-a-library|not-a-library
a name past its segment no lookup reads||$lib/bind/far-name.so|ok|ok
the Driver Manager's own SQLAllocHandle||$lib/bind/managers.so|not-a-driver|-
position-independent program||$lib/pie|not-a-library|not-a-library
static position-independent program||$lib/static-pie|not-a-library|not-a-library
its first 64 bytes||$lib/cut64.so|not-a-library|not-a-library
its first 4 KiB||$lib/cut4k.so|not-a-library|not-a-library
another OS ABI||$lib/osabi.so|not-a-library|not-a-library
identification version 0||$lib/version.so|not-a-library|not-a-library
no program headers||$lib/no-headers.so|not-a-library|not-a-library
program headers of another size||$lib/header-size.so|not-a-library|not-a-library
a bare name the cache holds||libz.so.1|not-a-driver|missing
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
a relocation of a type glibc knows (33)||$lib/type-33.so|ok|ok
a relocation of a type glibc does not know (34)||$lib/type-34.so|not-a-library|not-a-library
packed relocations, glibc's mark of them renamed||$lib/packed-unmarked.so|not-a-library|not-a-library
packed relocations, another requirement renamed||$lib/packed-weak.so|undefined-symbol:getppid@GLIBC_2.2.6|undefined-symbol:getppid@GLIBC_2.2.6
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
iodbc=$(ldconfig -p 2>/dev/null | sed -n 's/.*libiodbc\.so\.2 .*=> //p' | head -1)
# kind WORD-OR-VERDICT: driver, no driver, or not loaded.
kind() {
  case $1 in
  ok | *IM001*) echo driver ;;
  not-a-driver | *IM004*) echo "no driver" ;;
  *) echo "not loaded" ;;
  esac
}
while IFS='|' read -r name environment value words; do
  word=$(cut -d'|' -f$((column - 3)) <<<"$words")
  [ "$word" = - ] && continue
  { [ "$column" = 5 ] && printf '[ODBC Drivers]\nJudge=Installed\n\n'; printf '[Judge]\nDriver=%s\n' "$value"; } >odbcinst.ini
  # shellcheck disable=SC2086 # the assignments are words
  said=$(env $environment "$program" -b -c 2>/dev/null | cut -f2)
  # glibc's own account of the load (LD_DEBUG) judges, for a name found
  # nowhere, the road to it and the places searched that -j gives.
  if [ "$column" = 4 ]; then
    verdict=$(env $environment LD_DEBUG=libs,files LD_BIND_NOW=1 isql -v -k "DRIVER={Judge};" </dev/null 2>&1 | tee ld_debug)
  else
    verdict=$(env $environment LD_DEBUG=libs,files LD_PRELOAD="$iodbc" iodbctest "DRIVER={Judge}" </dev/null 2>&1 | tee ld_debug)
  fi
  road=ok
  [[ $word == missing-dependency:* ]] &&
    road=$(python3 "$ld_debug_road" "${word#*:}" ld_debug "$(env $environment "$program" -j -c 2>/dev/null)" 2>&1) && road=ok
  if [ "$said" = "$word" ] && [ "$(kind "$said")" = "$(kind "$verdict")" ] && [ "$road" = ok ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $name: quorbel says '$said' (expected '$word'), the Driver Manager: $(kind "$verdict")"
    [ "$road" = ok ] || echo "$road"
    grep -m1 -E 'IM00|01000|error' <<<"$verdict"
  fi
done <<<"$cases"

# Both in one run: what binding remembers of the first is not the second's.
{ [ "$column" = 5 ] && printf '[ODBC Drivers]\nA=Installed\nB=Installed\n\n'
  printf '[A]\nDriver=%s\n[B]\nDriver=%s\n' "$lib/share/drva.so" "$lib/share/drvb.so"; } >odbcinst.ini
both=$("$program" -b -c 2>/dev/null | tr '\t\n' ' |')
if [ "$both" = "A ok|B undefined-symbol:judge_x|" ]; then passed=$((passed + 1)); else
  failed=$((failed + 1)) && echo "FAIL: two drivers sharing a library in one run: $both"; fi

echo "judged by ${QUORBEL_DRIVER_MANAGER:-unixODBC}: $passed passed, $failed failed"
[ "$failed" = 0 ]
