#!/usr/bin/env bash
# -v on Linux, judged by the tools of what installed each file. dpkg: every
# driver library of this machine against dpkg -S and dpkg-query, a library
# whose package note the linker wrote against readelf, a file no package
# owns, and dpkg databases cut or hostile. rpm: a package built and
# recorded here against rpm -qf, the database put where quorbel reads it in
# a mount namespace of its own. Usage: package_versions.sh PROGRAM WORKDIR dpkg|rpm
set -u
program=$(realpath "$1") work=$2 && rm -rf "$work" && mkdir -p "$work" && source "$(dirname "$0")/checks.sh"
# fields MEMBER...: each JSON line's members, TAB-separated, "-" where absent.
fields() { python3 -c 'import json, sys
for line in sys.stdin: print(*(json.loads(line).get(k, "-") for k in sys.argv[1:]), sep="\t")' "$@"; }
printf 'int judge_f(void) { return 1; }\n' | cc -shared -fPIC -x c -o "$work/libplain.so" -

if [ "$3" = rpm ]; then
  command -v rpmbuild >/dev/null || { echo "SKIPPED: rpmbuild is not installed (Debian's rpm)"; exit 77; }
  mkdir -p "$work/top" "$work/db" "$work/rpm" && cp "$work/libplain.so" "$work/rpm/libdrv.so"
  { printf 'Name: judge-drv\nVersion: 2.5\nRelease: 7.el9\nEpoch: 3\nSummary: judge\nLicense: MIT\n' && printf '%s\n' \
    "%description" "judge" "%install" "mkdir -p %{buildroot}$work/rpm" \
    "cp $work/libplain.so %{buildroot}$work/rpm/libdrv.so" \
    "%files" "$work/rpm/libdrv.so"; } >"$work/judge-drv.rpm-recipe"
  HOME=$work rpmbuild -bb --define "_topdir $work/top" --define "__strip /bin/true" --define "debug_package %{nil}" \
    "$work/judge-drv.rpm-recipe" >"$work/rpmbuild.log" 2>&1 || { cat "$work/rpmbuild.log"; exit 1; }
  HOME=$work rpm --dbpath "$work/db" --initdb && HOME=$work rpm --dbpath "$work/db" -i --justdb --nodeps \
    --noscripts "$work"/top/RPMS/*/*.rpm 2>/dev/null || exit 1
  printf '[Recorded]\nDriver=%s\n\n[Plain]\nDriver=%s\n' "$work/rpm/libdrv.so" "$work/libplain.so" >"$work/odbcinst.ini"
  # listing NAME: quorbel -j -v, then what RPM's folder holds, in a mount
  # namespace of its own where this database is at RPM's place and dpkg's is
  # out of sight.
  listing() {
    local script='mount -t tmpfs none /var/lib && mkdir /var/lib/rpm && cp -a "$1"/. /var/lib/rpm &&
      ODBCSYSINI=$2 "$3" -j -v >"$4.json" 2>/dev/null; ls /var/lib/rpm >"$4.ls"'
    unshare -m sh -c "$script" sh "$work/db" "$work" "$program" "$work/$1" 2>/dev/null ||
      unshare -r -m sh -c "$script" sh "$work/db" "$work" "$program" "$work/$1" 2>/dev/null
  }
  listing recorded || { echo "SKIPPED: no mount namespace can be made here"; exit 77; }
  want=$(HOME=$work rpm --dbpath "$work/db" -qf --qf '%{EVR}\t%{NAME}' "$work/rpm/libdrv.so")
  check "rpm -qf's version and name" "$(fields description version package <"$work/recorded.json")" \
    $'Recorded\t'"$want"$'\nPlain\t-\t-'
  rm -f "$work/db/rpmdb.sqlite-wal" "$work/db/rpmdb.sqlite-shm" && listing bare
  check "a database in WAL mode without its side files is neither read nor written" \
    "$(fields version <"$work/bare.json") $(cat "$work/bare.ls")" $'-\n- rpmdb.sqlite'
  checks_done "rpm versions"
  exit
fi

judged=0
while IFS=$'\t' read -r description file version package; do
  owner=$(dpkg -S "$file" 2>/dev/null | cut -d: -f1)
  want=$'-\t-' && [ -n "$owner" ] && want=$(dpkg-query -W -f='${Version}' "$owner")$'\t'$owner && judged=1
  check "$description ($file): dpkg's version and package" "$version"$'\t'"$package" "$want"
done < <("$program" -j -c -v 2>/dev/null | fields description file version package | grep -v $'^[^\t]*\t-\t')
check "some driver library of this machine belongs to a package" "$judged" 1
"$program" -v -a -c >"$work/tab" 2>/dev/null; "$program" -j -v -a -c >"$work/json" 2>/dev/null
check "TAB and JSON lines carry the same versions" "$(python3 "$(dirname "$0")/json_lines_check.py" "$work/tab" \
  "$work/json" utf-8 | tail -1)" "json lines: $(wc -l <"$work/tab") passed, 0 failed"

metadata='{"type":"deb","name":"judge-noted","version":"2:1.4-3~bpo12+1","architecture":"amd64"}'
printf 'int judge_f(void) { return 1; }\n' | cc -shared -fPIC -x c -o "$work/libnoted.so" - \
  -Xlinker "--package-metadata=$metadata"
want=$(readelf -n "$work/libnoted.so" | sed -n 's/.*Packaging Metadata: //p' | fields version name)
printf '[Noted]\nDriver=%s\n\n[Plain]\nDriver=%s\n' "$work/libnoted.so" "$work/libplain.so" >"$work/odbcinst.ini"
check "the package note as readelf reads it; no field for a file no package owns" \
  "$(ODBCSYSINI=$work "$program" -j -v 2>/dev/null | fields description version package)" \
  $'Noted\t'"$want"$'\nPlain\t-\t-'

# dpkg's databases cut or hostile: a list of a million lines, the status cut
# within a version, a version holding a control character.
admin=$work/admin && mkdir -p "$admin/info" "$work/hostile"
printf 'Package: %s\nStatus: install ok installed\nArchitecture: amd64\nVersion: %s\n\n' huge 1.0-1 bad $'1\x01' \
  >"$admin/status" && huge_version=$(DPKG_ADMINDIR=$admin dpkg-query -W -f='${Version}' huge 2>/dev/null)
printf 'Package: cut\nStatus: install ok installed\nVersion: 1.2' >>"$admin/status"
{ echo "$work/libplain.so" && seq -f '/usr/lib/hostile/lib%g.so' 1000000; } >"$admin/info/huge.list"
for name in bad cut; do
  cp "$work/libplain.so" "$work/lib$name.so" && echo "$work/lib$name.so" >"$admin/info/$name.list"
  printf '[%s]\nDriver=%s\n\n' "$name" "$work/lib$name.so" >>"$work/hostile/odbcinst.ini"
done
printf '[huge]\nDriver=%s\n' "$work/libplain.so" >>"$work/hostile/odbcinst.ini"
start=$(date +%s%N)
got=$(ODBCSYSINI=$work/hostile DPKG_ADMINDIR=$admin "$program" -v 2>/dev/null)
milliseconds=$((($(date +%s%N) - start) / 1000000)) && echo "with a list of a million lines: $milliseconds ms"
check "no field but the version dpkg records, and no stall" "$got $((milliseconds < 1000))" "bad	$work/libbad.so
cut	$work/libcut.so
huge	$work/libplain.so	$huge_version 1"
checks_done "package versions"
