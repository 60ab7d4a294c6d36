#!/usr/bin/env sh
# Writes the fuzzer's first inputs: small libraries of each format whose
# tables binding reads (ELF symbols by the GNU and the SysV hash, versions
# and relocations; a DLL's imports, exports and a forwarder), so that the
# fuzzer starts from files that reach them.
# Usage: fuzz_seeds.sh FOLDER
set -u
edit="$(cd "$(dirname "$0")" && pwd)/elf_edit.py"
mkdir -p "$1" && cd "$1" || exit 1
printf 'extern int ext_data; int* p = &ext_data; int ext_call(void); int f(void) { return ext_call(); }\n' >s.c
printf 'V_1 { global: f; local: *; };\n' >v.map
small="-shared -nostdlib -fPIC -Wl,-N -Wl,--no-warn-rwx-segments"
# shellcheck disable=SC2086 # the options are words
"${CC:-cc}" $small -Wl,--version-script=v.map -Wl,--hash-style=gnu -o gnu.so s.c &&
  "${CC:-cc}" $small -Wl,--hash-style=sysv -o sysv.so s.c || exit 1
rm -f s.c v.map
# Relocation tables whose sizes add up past 64 bits.
python3 "$edit" sysv.so relasz-wraps.so tag 8 0xffffffffffffffe8 || exit 1
if command -v x86_64-w64-mingw32-gcc >/dev/null; then
  printf 'unsigned long __stdcall GetTickCount(void);\nint f(void) { return (int)GetTickCount(); }\n' >d.c
  printf 'EXPORTS\n  f\n  g = other.h\n' >e.def
  x86_64-w64-mingw32-gcc -shared -nostdlib -Wl,--file-alignment,16,--section-alignment,16 -e 0 -o pe.dll d.c e.def \
    -lkernel32 || exit 1
  rm -f d.c e.def
fi
