# Wine for the tests, sourced by the scripts that need it. Debian's launchers
# (wine, wineboot, winepath, ...) start the 32-bit loader whenever wine32 is
# installed, and a kernel without 32-bit support cannot execute it, so the
# loaders are started directly: Wine's own programs and every 64-bit program
# through the 64-bit loader, a 32-bit program through the 32-bit one.
# QUORBEL_WINE64_LOADER and QUORBEL_WINE32_LOADER name other loaders.
wine64_loader=${QUORBEL_WINE64_LOADER:-/usr/lib/wine/wine64}
wine32_loader=${QUORBEL_WINE32_LOADER:-/usr/lib/wine/wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# wine_tool ARGS...: runs a program of Wine's own (wineboot, reg, cmd,
# winepath) or a 64-bit program. WINELOADER tells Wine where the loaders are
# when one process starts another.
wine_tool() { WINELOADER=$wine64_loader "$wine64_loader" "$@"; }

# pe_bits PROGRAM: 64 or 32, from the PE header's machine field.
pe_bits() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  case $(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ') in
    8664) echo 64 ;;
    *) echo 32 ;;
  esac
}

# wine_program PROGRAM ARGS...: runs a Windows program through the loader of
# its own bitness.
wine_program() {
  if [ "$(pe_bits "$1")" = 64 ]; then
    wine_tool "$@"
  else
    "$wine32_loader" "$@"
  fi
}

wine_skip_status=77

# skip_unless_wine_runs PROGRAM: ends the calling script with the skip
# status and one line saying why when this machine cannot execute the loader
# that PROGRAM needs; returns when it can.
skip_unless_wine_runs() {
  [ "$(pe_bits "$1")" = 64 ] && return 0
  local error
  if [ ! -e "$wine32_loader" ]; then
    # Not installed: apt's own reason, where it has one (an i386 index
    # missing while a mirror syncs).
    error=$(apt-get install -s -q wine32:i386 2>&1 | grep -E ':i386 : Depends: |^E: ' | sed 's/^ *//' | head -2 | paste -sd ' ' -)
    echo "SKIPPED: Wine's 32-bit loader $wine32_loader is not installed (wine32:i386: ${error:-not installed})"
    exit "$wine_skip_status"
  fi
  error=$("$wine32_loader" --version 2>&1 >/dev/null) && return 0
  echo "SKIPPED: this machine cannot execute Wine's 32-bit loader $wine32_loader (${error##*: })"
  exit "$wine_skip_status"
}
