#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing, with sudo
# when not root. A name ending in :i386 turns on that architecture first.
# Options, before the names: --no-install-recommends leaves out what they
# recommend; --optional NAME installs NAME when it can and only warns when it
# cannot (the tests that need it skip, saying why).
# A mirror out of step fails `apt-get update` on one index for hours: the
# update is tried QUORBEL_APT_TRIES times (3), QUORBEL_APT_PAUSE seconds (10)
# apart, then the install goes on with the indexes there are, naming the one
# that failed. A package that still cannot be installed fails the command
# with its name and apt's reason.
set -u
options=()
optional=()
required=()
while [ $# -gt 0 ]; do
  case $1 in
    --no-install-recommends) options+=("$1") ;;
    --optional) optional+=("$2") && shift ;;
    *) required+=("$1") ;;
  esac
  shift
done

# missing NAME...: those of the names dpkg does not have installed.
missing() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || echo "$package"
  done
}

# apt_reason: apt's own words for a failure, from its output on stdin: its
# errors, then the first three dependencies it could not meet.
apt_reason() {
  awk '{ sub(/^ +/, "") }
    /^E: |^W: Failed/ { errors = errors (errors ? " " : "") $0 }
    /Depends: / && !seen[$0]++ && ++n <= 3 { depends = depends " " $0 }
    END { out = errors depends; sub(/^ /, "", out); print out }'
}

mapfile -t need < <(missing "${required[@]}")
mapfile -t want < <(missing "${optional[@]}")
[ "${#need[@]}" = 0 ] && [ "${#want[@]}" = 0 ] && exit 0

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
if printf '%s\n' "${need[@]}" "${want[@]}" | grep -q ':i386$' &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386 || exit 1
fi
echo "installing: ${need[*]} ${want[*]}"

tries=${QUORBEL_APT_TRIES:-3}
for ((try = 1; ; try++)); do
  update=$($sudo apt-get update -q 2>&1) && break
  if [ "$try" -ge "$tries" ]; then
    failed=$(sed -n 's/^E: Failed to fetch \([^ ]*\) *\(.*\)/\1 (\2)/p' <<<"$update")
    echo "warning: apt-get update failed $tries times; going on with the indexes there are." \
      "Not updated: ${failed:-$(apt_reason <<<"$update")}" >&2
    break
  fi
  sleep "${QUORBEL_APT_PAUSE:-10}"
done

install() { $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${options[@]}" "$@" 2>&1; }
if [ "${#need[@]}" != 0 ]; then
  if ! out=$(install "${need[@]}"); then
    echo "$out" | tail -20 >&2
    echo "error: could not install ${need[*]}: $(apt_reason <<<"$out")" >&2
    exit 1
  fi
fi
for package in "${want[@]}"; do
  out=$(install "$package") ||
    echo "warning: $package not installed, the tests that need it skip: $(apt_reason <<<"$out")" >&2
done
exit 0
