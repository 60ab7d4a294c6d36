#!/usr/bin/env bash
# Runs a built quorbel against a real ODBC Driver Manager and compares every
# byte it writes. The native program asks unixODBC; a Windows program runs
# under Wine, whose ODBC32 is served by the host's unixODBC and whose
# registry and version.dll are real. Both read a private odbcinst.ini.
#
# Usage: end_to_end.sh PROGRAM WORKDIR [CROSS_CXX]
#   CROSS_CXX: the mingw-w64 g++ that built a Windows PROGRAM; its windres
#   builds the test libraries with version resources.
#   QUORBEL_DRIVER_MANAGER=iODBC: a native PROGRAM built against iODBC, which
#   reads the file ODBCINSTINI names and lists what its [ODBC Drivers]
#   section names.
set -u
program=$1
work=$2
cross_cxx=${3:-}

rm -rf "$work"
mkdir -p "$work/ini"
export ODBCSYSINI=$work/ini
iodbc=false
# A name of 255 characters or more comes back cut to this length.
cut_length=254
if [ "${QUORBEL_DRIVER_MANAGER:-}" = iODBC ]; then
  iodbc=true
  export ODBCINSTINI=$work/ini/odbcinst.ini
  # iODBC fills all 255 bytes it is given with characters, then a NUL past
  # them, and returns SQL_SUCCESS.
  cut_length=255
fi
passed=0
failed=0

case $program in
  *.exe)
    windows=true
    source "$(dirname "$0")/wine.sh"
    skip_unless_wine_runs "$program"
    ;;
  *) windows=false ;;
esac

repeat() { printf "%$2s" '' | tr ' ' "$1"; }

if $windows; then bits=$(pe_bits "$program"); else bits=$(getconf LONG_BIT); fi

# --- The drivers -----------------------------------------------------------

long_name=$(repeat L 254)
cut_name=$(repeat M 300)
long_value_file=/opt/$(repeat v 300).so
value_259=/opt/$(repeat v 251).so
value_260=/opt/$(repeat v 252).so
long_piece=Piece=$(repeat p 600)
many_attributes=""
for i in $(seq -w 1 80); do many_attributes+="Key$i=value$i"$'\n'; done

cat >"$work/ini/odbcinst.ini" <<EOF
[Sample]
Description=Sample driver
Driver=/opt/quorbel/lib/sample.so
Driver64=/opt/quorbel/lib64/sample.so
Setup=/opt/quorbel/lib/setup.so

[Percent %s%n]
Driver=%WINDIR%/odbc/%s.so

[Bare]

[Back\\slash]
Driver=/opt/back.so

[$long_name]
Driver=/opt/long.so

[$cut_name]
Driver=/opt/cut.so

[Long value]
Driver=$long_value_file

[Many attributes]
${many_attributes}Driver=/opt/many.so

[Long piece]
$long_piece

[No version]
DriverODBCVer=03.50
Driver=/opt/plain.so

[Spaced]
  driver  =  /opt/spaced.so  

[Value 259]
Driver=$value_259

[Value 260]
Driver=$value_260
EOF

# The attribute list as the Driver Manager cuts it: whole entries while the
# entries and the list's closing NUL fit in 1023 bytes.
cut_attributes() {
  local used=0 line fields=""
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    ((used + ${#line} + 2 <= 1023)) || break
    fields+=$'\t'$line
    used=$((used + ${#line} + 1))
  done <<<"$many_attributes"
  printf '%s' "$fields"
}

descriptions="Sample
Percent %s%n
Bare
Back\\slash
$long_name
$(repeat M $cut_length)
Long value
Many attributes
Long piece
No version
Spaced
Value 259
Value 260
"

# Attribute fields of each driver, in listing order.
attribute_fields=(
  $'\tDescription=Sample driver\tDriver=/opt/quorbel/lib/sample.so\tDriver64=/opt/quorbel/lib64/sample.so\tSetup=/opt/quorbel/lib/setup.so'
  $'\tDriver=%WINDIR%/odbc/%s.so'
  ''
  $'\tDriver=/opt/back.so'
  $'\tDriver=/opt/long.so'
  $'\tDriver=/opt/cut.so'
  $'\tDriver='$long_value_file
  "$(cut_attributes)"
  $'\t'$long_piece
  $'\tDriverODBCVer=03.50\tDriver=/opt/plain.so'
  $'\tdriver=/opt/spaced.so'
  $'\tDriver='$value_259
  $'\tDriver='$value_260
)

# --- Running the program ---------------------------------------------------

if $windows; then
  # A prefix of its own unless the test run shares one.
  if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX=$work/wineprefix
    trap 'bash "$(dirname "$0")/wine_prefix.sh" stop "$WINEPREFIX"' EXIT
    bash "$(dirname "$0")/wine_prefix.sh" start "$WINEPREFIX" || exit 1
  fi
  windir='C:\windows'
  # The test libraries carry the compiler's runtime: a 32-bit one would
  # otherwise need libgcc_s_dw2-1.dll, which -c rightly misses.
  static_runtime="-static-libgcc -static-libstdc++"
  system32=$WINEPREFIX/drive_c/windows/system32
  syswow64=$WINEPREFIX/drive_c/windows/syswow64
fi

# run ARGS...: the program's streams go to out (or to the file run_out
# names) and err, its status to status.
run() {
  local out=${run_out:-$work/out}
  : >"$work/out"
  if $windows; then
    wine_program "$program" "$@" >"$out" 2>"$work/err"
  else
    WINDIR=/win "$program" "$@" >"$out" 2>"$work/err"
  fi
  status=$?
}

# Windows text mode ends every line in CR LF.
to_platform() { if $windows; then perl -pe 's/\n/\r\n/'; else cat; fi; }

# expect NAME STATUS OUT ERR: compares the last run.
expect() {
  printf '%s' "$3" | to_platform >"$work/want_out"
  printf '%s' "$4" | to_platform >"$work/want_err"
  if [ "$status" = "$2" ] && cmp -s "$work/out" "$work/want_out" &&
    cmp -s "$work/err" "$work/want_err"; then
    passed=$((passed + 1))
    return
  fi
  failed=$((failed + 1))
  echo "FAIL: $1 (status $status, wanted $2)"
  diff <(od -c "$work/want_out") <(od -c "$work/out") | head -20
  diff <(od -c "$work/want_err") <(od -c "$work/err") | head -20
}

banner="quorbel - list of installed ODBC drivers, $bits bit:"$'\n'
usage="quorbel [-b] [-a] [-v]
  -b - brief mode, data source name without driver name
  -a - show extended driver attributes
  -v - show version of the driver
  -c - check the library of each driver
  -j - write each driver as one JSON object per line
  -d - list the data sources, each with the driver it names
"

# --- The command line ------------------------------------------------------

run -?
expect "-? gives the usage" 0 "" "$banner$usage"
run /H extra
expect "/H gives the usage" 0 "" "$banner$usage"
run -x -h
expect "-x then -h" 0 $'Bad argument -x. Ignored.\n' "$banner$usage"
run -h -x
expect "-h then -x" 0 "" "$banner$usage"
run -- / - -%s%n word
expect "bad arguments" 128 $'Bad argument --. Ignored.\nBad argument /. Ignored.\nBad argument -. Ignored.\nBad argument -%s%n. Ignored.\n' "$banner"
if ! $windows; then
  run -é
  expect "a byte above 0x7f as the letter" 128 $'Bad argument -é. Ignored.\n' "$banner"
fi

# --- The listing -----------------------------------------------------------

# prepare_ini: the order in which the Driver Manager lists the sections of
# odbcinst.ini. unixODBC lists them in file order. iODBC lists the entries
# of its [ODBC Drivers] section, which this adds for every section, sorted
# as it sorts them (upper-cased), and gives each the attribute list
# "Installed".
prepare_ini() {
  local ini=$work/ini/odbcinst.ini names
  mapfile -t names < <(LC_ALL=C sed -n 's/^\[\(.*\)\]\r*$/\1/p' "$ini")
  order=("${!names[@]}")
  $iodbc || return 0
  { printf '[ODBC Drivers]\n'; printf '%s=Installed\n' "${names[@]}"; printf '\n'; cat "$ini"; } >"$ini.new"
  mv "$ini.new" "$ini"
  mapfile -t order < <(for i in "${!names[@]}"; do printf '%s\t%s\n' "${names[$i]}" "$i"; done |
    LC_ALL=C sort -f -s -t $'\t' -k1,1 | cut -f2)
}
# iodbc_attributes: iODBC's attribute list of each driver.
iodbc_attributes() { for i in "${!order[@]}"; do attribute_fields[$i]=$'\tInstalled'; done; }

# lines: each driver's description followed by its fields, in the order the
# Driver Manager lists them.
lines() {
  local i listed
  mapfile -t listed <<<"${descriptions%$'\n'}"
  for i in "${order[@]}"; do printf '%s%s\n' "${listed[$i]}" "${fields[$i]:-}"; done
}
# with_attributes: the path fields followed by the attribute fields.
with_attributes() {
  local i
  for i in "${!paths[@]}"; do fields[$i]=${paths[$i]}${attribute_fields[$i]}; done
}

prepare_ini
if $iodbc; then iodbc_attributes; fi
fields=()
run -b -a -v
expect "brief lines hold the description alone" 0 "$(lines)"$'\n' "$banner"

if ! $windows; then
  sample64=/opt/quorbel/lib64/sample.so
  [ "$bits" = 64 ] || sample64=/opt/quorbel/lib/sample.so
  paths=(
    $'\t'$sample64
    $'\t/win/odbc/%s.so'
    $'\t'
    $'\t/opt/back.so'
    $'\t/opt/long.so'
    $'\t/opt/cut.so'
    $'\t'$long_value_file
    $'\t/opt/many.so'
    $'\t'
    $'\t/opt/plain.so'
    $'\t/opt/spaced.so'
    $'\t'$value_259
    $'\t'$value_260
  )
  if $iodbc; then
    # Driver alone, never Driver64; cut names name nothing; keys are not
    # trimmed, so "  driver  " is no Driver.
    paths[0]=$'\t/opt/quorbel/lib/sample.so'
    paths[5]=''
    paths[10]=$'\t'
  fi
  fields=("${paths[@]}")
  run
  expect "paths from odbcinst.ini" 0 "$(lines)"$'\n' "$banner"
  run -v
  expect "no version for libraries that are not there" 0 "$(lines)"$'\n' "$banner"
  with_attributes
  run -v -a
  expect "paths and attributes" 0 "$(lines)"$'\n' "$banner"

  fields=("${paths[@]}")
  fields[1]=$'\t/odbc/%s.so'
  WINDIR=$(repeat w 260) "$program" >"$work/out" 2>"$work/err"
  status=$?
  expect "a WINDIR of 260 characters counts as absent" 0 "$(lines)"$'\n' "$banner"

else
  # registry VIEW SAMPLE: the drivers' keys as one view of the registry sees them.
  registry() {
    local key='HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBCINST.INI'
    {
      printf 'Windows Registry Editor Version 5.00\n\n'
      printf '[%s\\Sample]\n"Driver"="%%WINDIR%%\\\\system32\\\\%s"\n\n' "$key" "$2"
      printf '[%s\\Back\\slash]\n"Driver"="C:\\\\back.dll"\n\n' "$key"
      printf '[%s\\%s]\n"Driver"="C:\\\\long.dll"\n\n' "$key" "$long_name"
      printf '[%s\\Long value]\n"Driver"="C:\\\\%s.dll"\n\n' "$key" "$(repeat v 300)"
      printf '[%s\\Many attributes]\n"Driver"=dword:00000005\n\n' "$key"
      printf '[%s\\Long piece]\n"Driver"=""\n\n' "$key"
      printf '[%s\\No version]\n"Driver"="%%WINDIR%%\\\\system32\\\\quorbel_plain.dll"\n' "$key"
    } | perl -pe 's/\n/\r\n/' >"$work/$1.reg"
    wine_tool reg import "$work/$1.reg" "/reg:$1" >/dev/null 2>&1 || echo "cannot import $1.reg"
    wine_tool reg add "${key/HKEY_LOCAL_MACHINE/HKLM}\\Percent %s%n" /v Driver /t REG_EXPAND_SZ \
      /d '%WINDIR%\%s%n.dll' /f "/reg:$1" >/dev/null 2>&1 || echo "cannot add a REG_EXPAND_SZ"
  }
  # Each view names another library, so each program shows which it read.
  registry 64 quorbel_sample64.dll
  registry 32 quorbel_sample32.dll

  # library NAME [PRODUCT_VERSION]: a DLL of the program's own kind, placed
  # where the program's system32 is, with a version resource whose file
  # version (9.8.7.6) must never show.
  library() {
    local folder=$system32
    [ "$bits" = 64 ] || folder=$syswow64
    echo 'extern "C" short SQLAllocHandle(short, void*, void**) { return 0; }' >"$work/library.cc"
    if [ -n "${2:-}" ]; then
      printf '1 VERSIONINFO\nFILEVERSION 9,8,7,6\nPRODUCTVERSION %s\nBEGIN\nEND\n' "$2" >"$work/version.rc"
      "${cross_cxx%g++}windres" "$work/version.rc" -o "$work/version.o" || echo "windres failed"
      "$cross_cxx" -shared $static_runtime -o "$folder/$1" "$work/library.cc" "$work/version.o"
    else
      "$cross_cxx" -shared $static_runtime -o "$folder/$1" "$work/library.cc"
    fi
  }
  if [ "$bits" = 64 ]; then
    library quorbel_sample64.dll 1,2,30,4
    sample_version=$'\t1.02.30.04'
  else
    library quorbel_sample32.dll 5,6,70,800
    sample_version=$'\t5.06.70.800'
  fi
  library quorbel_plain.dll

  paths=(
    $'\t'"$windir"'\system32\quorbel_sample'$bits.dll
    $'\t'"$windir"'\%s%n.dll'
    ''
    $'\tC:\\back.dll'
    $'\tC:\\long.dll'
    ''
    $'\tC:\\'$(repeat v 300).dll
    $'\t'
    $'\t'
    $'\t'"$windir"'\system32\quorbel_plain.dll'
    ''
    ''
    ''
  )
  fields=("${paths[@]}")
  run
  expect "paths from the registry" 0 "$(lines)"$'\n' "$banner"
  fields[0]+=$sample_version
  run -v
  expect "product versions" 0 "$(lines)"$'\n' "$banner"
  with_attributes
  fields[0]=${paths[0]}$sample_version${attribute_fields[0]}
  run -a /V
  expect "paths, versions and attributes" 0 "$(lines)"$'\n' "$banner"

  fields=("${paths[@]}")
  fields[0]=$'\t\\system32\\quorbel_sample'$bits.dll
  fields[1]=$'\t\\%s%n.dll'
  fields[9]=$'\t\\system32\\quorbel_plain.dll'
  wine_tool cmd /c "set WINDIR=$(repeat w 260)&& $(wine_tool winepath -w "$program")" >"$work/out" 2>"$work/err"
  status=$?
  expect "a WINDIR of 260 characters counts as absent" 0 "$(lines)"$'\n' "$banner"
fi

# expect_json NAME ARGS...: the same run with -j carries the same fields.
expect_json() {
  run "${@:2}"
  mv "$work/out" "$work/tab_out"
  local tab_status=$status encoding=utf-8
  $windows && encoding=cp1252
  run -j "${@:2}"
  if [ "$status" = "$tab_status" ] && [ -s "$work/out" ] && python3 "$(dirname "$0")/json_lines_check.py" \
    "$work/tab_out" "$work/out" "$encoding" >"$work/json_check"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $1 (status $status, as TAB lines $tab_status)"
    head -5 "$work/json_check" "$work/err"
  fi
}
expect_json "JSON lines of the same drivers" -v -a
expect_json "brief JSON lines" -b -a -v

run_out=/dev/full run
expect "a listing lost to a full disk" 32 "" "$banner"'ERROR: could not write to standard output'

# --- Where the Driver Manager cuts and wraps -------------------------------

# sized_section NAME TOTAL: a section whose entries, each counted with its
# NUL as the Driver Manager counts them, total TOTAL bytes (unixODBC keeps
# that in 16 bits), the library last.
entry_900=K001=$(repeat x 894)
sized_section() {
  local n=$((($2 - 113) / 900)) i
  printf '[%s]\n' "$1"
  for ((i = 1; i <= n; i++)); do printf 'K%03d=%s\n' "$i" "$(repeat x 894)"; done
  printf 'Pad=%s\nDriver=/d.so\n\n' "$(repeat p $(($2 - 13 - 900 * n - 5)))"
}
totals="32767 32768 65535 65536 66559"
{
  printf '[%s]\nDriver=/opt/c255.so\n\n' "$(repeat C 255)"
  printf '[%s]\nDriver=/opt/c254.so\n\n' "$(repeat C 254)"
  printf '[%s]\nDriver=/opt/n255.so\n\n' "$(repeat N 255)"
  printf '[Empty 64]\nDriver64=\nDriver=/opt/d.so\n\n[Blank 64]\nDriver64 =   \nDriver=/opt/d.so\n\n'
  for total in $totals; do sized_section "Total $total" "$total"; done
} >"$work/ini/odbcinst.ini"
prepare_ini

descriptions="$(repeat C $cut_length)
$(repeat C 254)
$(repeat N $cut_length)
Empty 64
Blank 64
"
attribute_fields=($'\tDriver=/opt/c255.so' $'\tDriver=/opt/c254.so' $'\tDriver=/opt/n255.so'
  $'\tDriver64=\tDriver=/opt/d.so' $'\tDriver64=\tDriver=/opt/d.so')
for total in $totals; do
  descriptions+="Total $total"$'\n'
  attribute_fields+=($'\t'$entry_900)
done
if $windows; then
  # Only the section of the whole 254-character name has a key.
  wine_tool reg add "HKLM\\SOFTWARE\\ODBC\\ODBCINST.INI\\$(repeat C 254)" /v Driver \
    /d 'C:\short254.dll' /f "/reg:$bits" >/dev/null 2>&1 || echo "cannot add a key"
  paths=('' $'\tC:\\short254.dll' '' '' '' '' '' '' '' '')
else
  paths=($'\t/opt/c255.so' $'\t/opt/c254.so' $'\t/opt/n255.so' $'\t/opt/d.so' $'\t/opt/d.so')
  for total in $totals; do paths+=($'\t/d.so'); done
  if $iodbc; then
    paths[0]='' paths[2]=''
    iodbc_attributes
  fi
fi
with_attributes
run -a
expect "cut names, empty Driver64 and cut or wrapped lists" 0 "$(lines)"$'\n' "$banner"
expect_json "JSON lines where the Driver Manager cuts" -a

# Bytes JSON must escape, and on Linux bytes that are not UTF-8.
# (iODBC lists no name with a quote.)
printf '[Caf\351 \\ tab\there]\nDriver=/x/\001"y"\177.so\nK=\303\251\355\240\200\r\n' >"$work/ini/odbcinst.ini"
prepare_ini
expect_json "JSON lines of bytes to escape" -a

# --- The library check ----------------------------------------------------

# elf_header CLASS MACHINE: the header of an ELF shared object and nothing
# more (CLASS 1: 32-bit, 2: 64-bit).
elf_header() {
  byte() { printf "\\$(printf %03o "$1")"; }
  printf '\177ELF'
  byte "$1"
  printf '\001\001'
  head -c 9 /dev/zero
  printf '\003\000'
  byte "$2"
  printf '\000\001'
  head -c $(($1 == 2 ? 43 : 31)) /dev/zero
}
descriptions="Own kind
Other kind
Bare name
Missing file
Text file
No library
"
printf '[%s]\nDriver=x\n\n' Own\ kind Other\ kind Bare\ name Missing\ file Text\ file >"$work/ini/odbcinst.ini"
printf '[No library]\nDescription=none\n' >>"$work/ini/odbcinst.ini"
prepare_ini
checks=(ok mismatch ok missing not-a-library missing)
if $windows; then
  # Each value in the program's own registry view.
  registry_value() {
    wine_tool reg add "HKLM\\SOFTWARE\\ODBC\\ODBCINST.INI\\$1" /v Driver /d "$2" /f "/reg:$bits" \
      >/dev/null 2>&1 || echo "cannot add $1"
  }
  if [ "$bits" = 64 ]; then other_cxx=${cross_cxx/x86_64/i686} other=x86; else other_cxx=${cross_cxx/i686/x86_64} other=x64; fi
  "$other_cxx" -shared $static_runtime -o "$WINEPREFIX/drive_c/quorbel_other.dll" "$work/library.cc"
  echo 'not a library' >"$WINEPREFIX/drive_c/text.dll"
  registry_value "Own kind" '%WINDIR%\system32\quorbel_sample'$bits.dll
  registry_value "Other kind" 'C:\quorbel_other.dll'
  registry_value "Bare name" quorbel_plain.dll
  registry_value "Missing file" 'C:\nowhere.dll'
  registry_value "Text file" 'C:\text.dll'
  paths=($'\t'"$windir"'\system32\quorbel_sample'$bits.dll $'\tC:\\quorbel_other.dll'
    $'\tquorbel_plain.dll' $'\tC:\\nowhere.dll' $'\tC:\\text.dll' '')
  # A bare name gets ".dll"; a folder that does not exist holds nothing.
  printf '[No extension]\nDriver=x\n\n[No folder]\nDriver=x\n' >>"$work/ini/odbcinst.ini"
  prepare_ini
  registry_value "No extension" quorbel_plain
  registry_value "No folder" 'C:\nowhere\x.dll'
  descriptions+="No extension"$'\n'"No folder"$'\n'
  checks+=(ok missing)
  paths+=($'\tquorbel_plain' $'\tC:\\nowhere\\x.dll')
else
  # Another architecture's header: aarch64 beside x86-64, else x86-64.
  if [ "$(uname -m)" = x86_64 ]; then other=arm64 class=2 machine=183; else other=x64 class=2 machine=62; fi
  mkdir -p "$work/lib"
  echo 'extern "C" short SQLAllocHandle(short, void*, void**) { return 0; }' | ${CXX:-c++} -shared -fPIC -x c++ -o "$work/lib/libquorbel_found.so" -
  elf_header "$class" "$machine" >"$work/lib/other.so"
  echo 'not a library' >"$work/lib/text.so"
  {
    printf '[Own kind]\nDriver=%s\n\n' "$work/lib/libquorbel_found.so"
    printf '[Other kind]\nDriver=%s\n\n' "$work/lib/other.so"
    printf '[Bare name]\nDriver=libquorbel_found.so\n\n'
    printf '[Missing file]\nDriver=/opt/quorbel/none.so\n\n'
    printf '[Text file]\nDriver=%s\n\n' "$work/lib/text.so"
    printf '[No library]\nDescription=none\n\n'
    printf '[In the drivers folder]\nDriver=libsqlite3odbc.so\n\n'
    printf '[In the loader folders]\nDriver=libodbcinst.so.2\n\n'
    printf '[Device]\nDriver=/dev/zero\n\n[Through a file]\nDriver=/etc/passwd/x.so\n'
  } >"$work/ini/odbcinst.ini"
  prepare_ini
  descriptions+="In the drivers folder"$'\n'"In the loader folders"$'\n'"Device"$'\n'"Through a file"$'\n'
  checks+=(ok not-a-driver unreadable missing)
  # iODBC looks for any value that is not an absolute path in its folder of
  # drivers alone.
  if $iodbc; then checks[2]=missing checks[7]=missing; fi
  paths=($'\t'"$work/lib/libquorbel_found.so" $'\t'"$work/lib/other.so" $'\tlibquorbel_found.so'
    $'\t/opt/quorbel/none.so' $'\t'"$work/lib/text.so" $'\t' $'\tlibsqlite3odbc.so'
    $'\tlibodbcinst.so.2' $'\t/dev/zero' $'\t/etc/passwd/x.so')
  export LD_LIBRARY_PATH=$work/lib
fi
checks[1]=mismatch:$other
for i in "${!checks[@]}"; do fields[$i]=${paths[$i]}$'\t'${checks[$i]}; done
run -c
expect "the check of each library" 16 "$(lines)"$'\n' "$banner"
expect_json "JSON lines with the check" -c
run_out=/dev/full run -c
expect "checked lines lost to a full disk" 32 "" "$banner"'ERROR: could not write to standard output'
for i in "${!checks[@]}"; do fields[$i]=$'\t'${checks[$i]}; done
run -b -c
expect "the check in brief lines" 16 "$(lines)"$'\n' "$banner"
if ! $windows; then
  unset LD_LIBRARY_PATH
  fields[2]=$'\tmissing'
  run -b -c
  expect "a bare name the loader's search does not find" 16 "$(lines)"$'\n' "$banner"
  # Names that reach the cut of each Driver Manager: 1 KB of them for
  # unixODBC, 4 KB for iODBC.
  padding=""
  $iodbc && padding=$(repeat p 80)
  for i in $(seq -w 1 50); do printf '[Benchmark driver 00%s%s]\nDriver=/x.so\n' "$i" "$padding"; done >"$work/ini/odbcinst.ini"
  prepare_ini
  # iODBC takes "Installed" in any case, and so must the count.
  if $iodbc; then sed -i 's/=Installed$/=installed/' "$work/ini/odbcinst.ini"; fi
  run -b
  brief_lines=$(cat "$work/out")
  listed=$(wc -l <"$work/out")
  expect "no warning without -c" 0 "$brief_lines"$'\n' "$banner"
  warning="WARNING: the Driver Manager listed $listed of the 50 drivers in odbcinst.ini"$'\n'
  run -b -c
  expect "drivers the Driver Manager leaves out" 16 "$(sed 's/$/\tmissing/' <<<"$brief_lines")"$'\n' \
    "$banner$warning"
fi

if $windows; then
  # Windows' own loader judges what a DLL imports: LoadLibraryEx with
  # LOAD_WITH_ALTERED_SEARCH_PATH, from the program's own kind of process,
  # loads the DLL, and GetProcAddress finds SQLAllocHandle or SQLAllocEnv
  # in it, where the check must say ok; it loads one without them where it
  # must say not-a-driver. Where an import has no export, Wine binds a stub
  # and says so (warn+module): that DLL would not load on Windows. (Wine
  # passes over an import of the other architecture where Windows fails,
  # so no case has a good one later.)
  judged=$WINEPREFIX/drive_c/judged
  mkdir -p "$judged"/{gone,other,text,beside,api,name,ordinal,forward,forward-gone,forward-none,api-none,api-empty,setup}
  cat >"$work/judge.c" <<'C'
#include <windows.h>
#include <stdio.h>
int main(int c, char** v) {
  fprintf(stderr, "judge: loading\n");
  fflush(stderr);
  HMODULE h = LoadLibraryExA(v[1], 0, 8);
  if (!h) printf("%lu", GetLastError());
  else printf(GetProcAddress(h, "SQLAllocHandle") || GetProcAddress(h, "SQLAllocEnv") ? "0" : "no-driver");
  return c;
}
C
  "${cross_cxx%g++}gcc" -o "$judged/judge.exe" "$work/judge.c"
  entry='short SQLAllocHandle(short t, void* i, void** o) { (void)t; (void)i; (void)o; return 0; }'
  echo 'int quorbel_b(void) { return 1; }' >"$work/b.c"
  echo "int quorbel_b(void); int quorbel_a(void) { return quorbel_b(); } $entry" >"$work/a.c"
  "$cross_cxx" -shared $static_runtime -x c -o "$judged/beside/quorbel_b.dll" "$work/b.c"
  "$other_cxx" -shared $static_runtime -x c -o "$judged/other/quorbel_b.dll" "$work/b.c"
  echo 'not a library' >"$judged/text/quorbel_b.dll"
  for folder in gone other text beside; do
    "$cross_cxx" -shared $static_runtime -o "$judged/$folder/quorbel_a.dll" -x c "$work/a.c" -x none "$judged/beside/quorbel_b.dll"
  done
  echo "void __stdcall WakeByAddressAll(void*); void quorbel_a(void* p) { WakeByAddressAll(p); } $entry" >"$work/api.c"
  "$cross_cxx" -shared $static_runtime -x c -o "$judged/api/quorbel_a.dll" "$work/api.c" -lsynchronization
  head -c 2048 "$judged/beside/quorbel_a.dll" >"$judged/cut.dll"
  # A folder named like the DLL beside the driver ends the search there;
  # imports read from the headers; a function's name past the image.
  mkdir -p "$judged"/{folder/quorbel_c.dll,headers,far}
  system=$system32
  [ "$bits" = 64 ] || system=$syswow64
  echo 'int quorbel_c(void) { return 1; }' >"$work/c.c"
  echo "int quorbel_c(void); int quorbel_a(void) { return quorbel_c(); } $entry" >"$work/ac.c"
  "$cross_cxx" -shared $static_runtime -x c -o "$system/quorbel_c.dll" "$work/c.c"
  "$cross_cxx" -shared $static_runtime -o "$judged/folder/quorbel_a.dll" -x c "$work/ac.c" -x none "$system/quorbel_c.dll"
  # Imports the DLL found lacks, by name and by ordinal (import libraries
  # written from definitions), and exports forwarded to quorbel_c.dll, to
  # a function it lacks, to a DLL found nowhere; API sets Wine's schema
  # lacks, or maps to no DLL; a setup library's exports.
  import_library() { printf 'LIBRARY %s\nEXPORTS\n  %s\n' "$2" "$3" >"$work/$1.def" &&
    "${cross_cxx%g++}dlltool" -d "$work/$1.def" -l "$work/lib$1.a"; }
  import_library name quorbel_b.dll quorbel_b_gone
  import_library ordinal quorbel_b.dll 'quorbel_b_gone @7 NONAME'
  import_library api-none api-ms-win-quorbel-none-l1-1-0.dll quorbel_b_gone
  import_library api-empty api-ms-win-deprecated-apis-legacy-l1-1-0.dll quorbel_b_gone
  echo "int quorbel_b_gone(void); int quorbel_a(void) { return quorbel_b_gone(); } $entry" >"$work/gone.c"
  for folder in name ordinal api-none api-empty; do
    "$cross_cxx" -shared $static_runtime -o "$judged/$folder/quorbel_a.dll" -x c "$work/gone.c" -x none "$work/lib$folder.a"
  done
  cp "$judged/beside/quorbel_b.dll" "$judged/name/" && cp "$judged/beside/quorbel_b.dll" "$judged/ordinal/"
  for forward in forward:quorbel_c.quorbel_c forward-none:quorbel_c.quorbel_none forward-gone:quorbel_gone.quorbel_b; do
    printf 'EXPORTS\n  quorbel_b = %s\n' "${forward#*:}" >"$work/forward.def"
    "$cross_cxx" -shared $static_runtime -o "$judged/${forward%%:*}/quorbel_b.dll" -x c "$work/c.c" -x none "$work/forward.def"
    cp "$judged/beside/quorbel_a.dll" "$judged/${forward%%:*}/"
  done
  cp "$judged/beside/quorbel_b.dll" "$judged/setup/quorbel_a.dll"
  for folder in headers far; do cp "$judged/beside/quorbel_b.dll" "$judged/$folder/"; done
  pe_edit() { python3 "$(dirname "$0")/pe_edit.py" "$judged/beside/quorbel_a.dll" "$judged/$1/quorbel_a.dll" "${@:2}"; }
  pe_edit headers imports-in-headers
  pe_edit far thunk 0x7fff0000
  cases="gone|missing-dependency:quorbel_b.dll
other|mismatch-dependency:quorbel_b.dll:$other
text|not-a-library-dependency:quorbel_b.dll
beside|ok
api|ok
folder|unreadable-dependency:quorbel_c.dll
headers|ok
far|not-a-library
name|missing-procedure:quorbel_b.dll:quorbel_b_gone
ordinal|missing-procedure:quorbel_b.dll:#7
forward|ok
forward-none|missing-procedure:quorbel_b.dll:quorbel_b
forward-gone|missing-procedure:quorbel_b.dll:quorbel_b
api-none|missing-dependency:api-ms-win-quorbel-none-l1-1-0.dll
api-empty|missing-dependency:api-ms-win-deprecated-apis-legacy-l1-1-0.dll
setup|not-a-driver"
  : >"$work/ini/odbcinst.ini"
  while IFS='|' read -r folder word; do
    printf '[Judged %s]\nDriver=x\n' "$folder" >>"$work/ini/odbcinst.ini"
    registry_value "Judged $folder" "C:\\judged\\$folder\\quorbel_a.dll"
  done <<<"$cases"$'\n'"cut|not-a-library"
  registry_value "Judged cut" 'C:\judged\cut.dll'
  run -b -c
  while IFS='|' read -r folder word; do
    path="C:\\judged\\$folder\\quorbel_a.dll"
    [ "$folder" = cut ] && path='C:\judged\cut.dll'
    said=$(tr -d '\r' <"$work/out" | sed -n "s/^Judged $folder\t//p")
    loaded=$(WINEDEBUG=warn+module wine_program "$judged/judge.exe" "$path" 2>"$work/judge.err")
    sed -n '/^judge: loading/,$p' "$work/judge.err" |
      grep -qE 'No implementation for|module not found for forward|function not found for forward' && loaded=stub
    kind() { case $1 in ok | 0) echo driver ;; not-a-driver | no-driver) echo "no driver" ;; *) echo "not loaded" ;; esac; }
    if [ "$said" = "$word" ] && [ "$(kind "$said")" = "$(kind "$loaded")" ]; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "FAIL: judged $folder: quorbel says '$said' (expected '$word'), LoadLibraryEx says $loaded"
    fi
  done <<<"$cases"$'\n'"cut|not-a-library"
fi

if $windows; then
  # -d: a source the Driver Manager lists (under Wine, its host's unixODBC)
  # resolved through the registry: the user's source, shared by both
  # bitnesses, naming a driver of the other bitness alone, then of both.
  printf '[wsrc]\nDriver=x\n' >"$ODBCSYSINI/odbc.ini"
  sources='HKCU\Software\ODBC\ODBC.INI'
  wine_tool reg add "$sources\wsrc" /v Driver /d 'C:\quorbel_other.dll' /f >/dev/null 2>&1
  wine_tool reg add "$sources\ODBC Data Sources" /v wsrc /d 'Other side' /f >/dev/null 2>&1
  other_bits=$((96 - bits))
  wine_tool reg add 'HKLM\SOFTWARE\ODBC\ODBCINST.INI\Other side' /v Driver /d x /f "/reg:$other_bits" >/dev/null 2>&1
  run -d -c
  expect "a source whose driver is the other bitness's" 16 "wsrc"$'\t'"x"$'\t'"other-bitness:driver"$'\n' "$banner"
  wine_tool reg add 'HKLM\SOFTWARE\ODBC\ODBCINST.INI\Other side' /v Driver /d x /f "/reg:$bits" >/dev/null 2>&1
  run -d -c
  expect "then its library's word" 16 "wsrc"$'\t'"x"$'\t'"mismatch:$other"$'\n' "$banner"
  rm "$ODBCSYSINI/odbc.ini"
fi

: >"$work/ini/odbcinst.ini"
run -a
expect "no drivers" 0 "" "$banner"

# With -c, an empty listing names the files the Driver Manager reads; for
# unixODBC an ODBCINSTINI path lies inside ODBCSYSINI's folder.
unread() { [ -e "$1" ] || printf ' (does not exist)'; [ -f "$1" ] && [ ! -s "$1" ] && printf ' (empty)'; }
if $windows; then
  reads='HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBCINST.INI\ODBC Drivers (does not exist)'
  run -c
elif $iodbc; then
  reads="$ODBCINSTINI (empty) and /etc/odbcinst.ini$(unread /etc/odbcinst.ini)"
  run -c
else
  # A file of no bytes (as unixODBC makes one where it finds none).
  run -c
  expect "no drivers in an empty file, with -c" 0 "" "$banner""WARNING: the Driver Manager listed no drivers; it reads \
$ODBCSYSINI/odbcinst.ini (empty) and $HOME/.odbcinst.ini$(unread "$HOME/.odbcinst.ini")"$'\n'
  reads="$ODBCSYSINI/$work/none/odbcinst.ini (does not exist) and $HOME/.odbcinst.ini$(unread "$HOME/.odbcinst.ini")"
  ODBCINSTINI=$work/none/odbcinst.ini run -c
fi
expect "no drivers, with -c" 0 "" "$banner""WARNING: the Driver Manager listed no drivers; it reads $reads"$'\n'

echo "end to end ($(basename "$program"), $bits bit, ${QUORBEL_DRIVER_MANAGER:-its Driver Manager}): $passed passed, $failed failed"
[ "$failed" = 0 ]
