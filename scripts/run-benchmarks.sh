#!/usr/bin/env bash
# Runs every benchmark of the build and prints its figures, then every goal
# line ("goal ... ratio ... (goal <= ...) met") once more together. Start-up
# cost needs a display: without one, an Xvfb of its own is started on a
# display number it finds free itself (-displayfd).
# bench_scan searches 256 addresses at nine rates at the wire's pace: about four minutes.
set -uo pipefail
build=$(cd "${1:-build}" && pwd)
if [ -z "${DISPLAY:-}" ]; then
  number=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x800x24 3>"$number" >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null; rm -f "$number"' EXIT
  for _ in $(seq 100); do [ -s "$number" ] && break; sleep 0.1; done
  if [ ! -s "$number" ]; then echo "Xvfb did not start" >&2; exit 1; fi
  export DISPLAY=":$(head -n1 "$number")"
fi
export LD_LIBRARY_PATH="$build/bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# The bridge benchmark runs Windows code under Wine in the tests' prefix, quietly.
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
log=$(mktemp)
out=$(mktemp)
for b in $(find "$build/bench" "$build/bin" -maxdepth 2 -type f -name 'bench_*' -perm -u+x | sort); do
  echo "== $(basename "$b")"
  "$b" >"$out" 2>&1
  rc=$?
  grep -v '^QStandardPaths\|propagateSizeHints' "$out" | tee -a "$log"
  [ "$rc" -eq 0 ] || echo "($(basename "$b") ended with code $rc)"
done
echo "== goals"
grep '^goal ' "$log"
rm -f "$log" "$out"
