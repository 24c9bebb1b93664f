#!/bin/sh
# Keeps one wineserver running for the bridge tests (start) and ends it
# (stop). Creating the Wine prefix takes the longest, so start does it once
# here by running the bridge. Without Wine there is nothing to do: the tests
# then say so and skip.
command -v wineserver >/dev/null 2>&1 || { echo "Wine not installed (make deps installs wine and wine32)"; exit 0; }
case "$1" in
  start)
    mkdir -p "${WINEPREFIX:-$HOME/.wine}" && wineserver -p120 || exit 1
    if [ -f "$2" ]; then wine "$2" --version || exit 1; fi
    ;;
  stop)
    wineserver -k 2>/dev/null
    ;;
esac
exit 0
