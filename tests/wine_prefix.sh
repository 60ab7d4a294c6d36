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
    # A program that crashes ends at once, without a debugger that waits,
    # in both registry views.
    for view in 64 32; do
      wine_tool reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
        "/reg:$view" >>"$log" 2>&1
    done
    ;;
  stop) wineserver -k >/dev/null 2>&1 || true ;;
esac
