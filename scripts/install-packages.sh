#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing, with sudo
# when not root. A name ending in :i386 turns on that architecture first.
# With --no-install-recommends first, what they recommend is left out.
set -eu
options=()
if [ "${1:-}" = --no-install-recommends ]; then
  options+=("$1")
  shift
fi
missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ "${#missing[@]}" = 0 ] && exit 0

sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
$sudo apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${options[@]}" "${missing[@]}"
