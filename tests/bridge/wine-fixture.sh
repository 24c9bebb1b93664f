#!/bin/sh
# Keeps one wineserver running for the bridge tests (start) and ends it
# (stop). Creating the Wine prefix takes the longest, so start does it once
# here by running the bridge. Without Wine there is nothing to do: the tests
# then say so and skip.
#
# Wine's server and the services it starts outlive this script: they must not
# hold CTest's output pipes, or CTest waits for them.
command -v wineserver >/dev/null 2>&1 || { echo "Wine not installed (make deps installs wine and wine32)"; exit 0; }
case "$1" in
  start)
    mkdir -p "${WINEPREFIX:-$HOME/.wine}" || exit 1
    wineserver -p120 </dev/null >/dev/null 2>&1 || exit 1
    if [ -f "$2" ]; then
      log=$(mktemp)
      wine "$2" --version </dev/null >"$log" 2>&1
      status=$?
      cat "$log"
      rm -f "$log"
      exit $status
    fi
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1
    ;;
esac
exit 0
