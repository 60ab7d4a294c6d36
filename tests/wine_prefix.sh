#!/usr/bin/env bash
# Creates (start) or stops (stop) the private Wine prefix that the tests of
# a Windows build share. Usage: wine_prefix.sh start|stop PREFIX
set -u
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case $1 in
  start)
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || { echo "cannot create the Wine prefix $WINEPREFIX"; exit 1; }
    ;;
  stop) wineserver -k >/dev/null 2>&1 || true ;;
esac
