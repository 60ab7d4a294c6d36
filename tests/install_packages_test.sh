#!/usr/bin/env bash
# scripts/install-packages.sh against a fake apt-get, no network: a mirror in mid-sync fails an
# index, the 32-bit Wine cannot be installed, a package does not exist. Usage: install_packages_test.sh WORKDIR
set -u
work=$1
script=$(cd "$(dirname "$0")/.." && pwd)/scripts/install-packages.sh
rm -rf "$work"
mkdir -p "$work/bin"
source "$(dirname "$0")/checks.sh"

# Fakes: dpkg knows the packages in installed; apt-get logs its calls, fails
# its first $update_failures updates as a mirror in sync does, and cannot
# install wine32:i386 nor nosuch.
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/bash
echo "$*" >>"$FAKES/calls"
if [ "$1" = update ]; then
  [ "$(grep -c '^update' "$FAKES/calls")" -gt "$UPDATE_FAILURES" ] && exit 0
  echo 'E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?'
  exit 100
fi
[[ " $* " == *" wine32:i386 "* ]] && echo ' libwine:i386 : Depends: libgst:i386 but it is not installable' && exit 100
[[ " $* " == *" nosuch "* ]] && echo 'E: Unable to locate package nosuch' && exit 100
exit 0
FAKE
printf '#!/bin/sh\ngrep -qx "$3" "$FAKES/installed" && echo "install ok installed"\n' >"$work/bin/dpkg-query"
printf '#!/bin/sh\necho i386\n' >"$work/bin/dpkg"
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

# run UPDATE_FAILURES ARGS...: the script's status, what it says on stderr
# and the fake's calls, one per line.
run() {
  local failures=$1 err status
  shift && rm -f "$work/calls" && printf 'cmake\n' >"$work/installed"
  err=$(PATH=$work/bin:$PATH FAKES=$work UPDATE_FAILURES=$failures QUORBEL_APT_PAUSE=0 bash "$script" "$@" 2>&1 >/dev/null)
  status=$?
  printf 'status %s\n%s\ncalls: %s\n' "$status" "$err" "$(cut -d' ' -f1 "$work/calls" 2>/dev/null | paste -sd, -)"
}

index="http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"
stale="warning: apt-get update failed 3 times; going on with the indexes there are. Not updated: $index (File has unexpected size (374820 != 376004). Mirror sync in progress?)"
check "an index that fails every try: a warning, the install goes on" "$(run 9 g++)" \
  $'status 0\n'"$stale"$'\ncalls: update,update,update,install'
check "an index that fails once: tried again, no warning" "$(run 1 g++)" $'status 0\n\ncalls: update,update,install'
check "the 32-bit Wine that cannot be installed: a warning with apt's reason" "$(run 3 --optional wine32:i386 g++)" \
  "status 0
$stale
warning: wine32:i386 not installed, the tests that need it skip: libwine:i386 : Depends: libgst:i386 but it is not installable
calls: update,update,update,install,install"
got=$(run 0 g++ nosuch)
check "a package that cannot be installed fails, named with apt's reason" "$(head -1 <<<"$got")$(tail -2 <<<"$got")" \
  "status 1error: could not install g++ nosuch: E: Unable to locate package nosuch
calls: update,install"
check "nothing missing: apt is not asked" "$(run 9 cmake)" $'status 0\n\ncalls: '

checks_done "install packages"
