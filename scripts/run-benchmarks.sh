#!/usr/bin/env bash
# Runs every benchmark of the build and prints its figures. Start-up cost
# needs a display: an Xvfb of its own is started when none is set.
# bench_scan searches 256 addresses at nine rates at the wire's pace: about four minutes.
set -uo pipefail
build=$(cd "${1:-build}" && pwd)
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :78 -screen 0 1280x800x24 >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null' EXIT
  export DISPLAY=:78
  sleep 1
fi
export LD_LIBRARY_PATH="$build/bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# The bridge benchmark runs Windows code under Wine in the tests' prefix, quietly.
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
for b in $(find "$build/bench" "$build/bin" -maxdepth 2 -type f -name 'bench_*' -perm -u+x | sort); do
  echo "== $(basename "$b")"
  "$b" || echo "($(basename "$b") failed)"
done
