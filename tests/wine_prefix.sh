#!/usr/bin/env bash
# Creates (start) or stops (stop) the private Wine prefix that the tests of
# a Windows build share. Usage: wine_prefix.sh start|stop PREFIX
set -u
source "$(dirname "$0")/wine.sh"
export WINEPREFIX=$2
case $1 in
  start)
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    log=$WINEPREFIX.log
    wine_tool wineboot -i >"$log" 2>&1 || {
      echo "cannot create the Wine prefix $WINEPREFIX; wineboot said:"
      tail -n 20 "$log"
      exit 1
    }
    ;;
  stop) wineserver -k >/dev/null 2>&1 || true ;;
esac
