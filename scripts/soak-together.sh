#!/usr/bin/env bash
# The long fault soak: several paths at once, each its own rqsim, under
# nice, in the plain build (the sanitizers' slowness would make it a soak of
# the sanitizers). Prints a table row a path and the sums.
#   scripts/soak-together.sh [seconds] [path ...]
#   paths as rqsoak names them; "rqtool:8" is the rqtool path with --retries 8
#   (default: udp udp serial bridge rqtool:8 scan gateway hostile), 600 s each,
#   SOAK_FAULT_SHARE (default 0.3), SOAK_SEED (default 1), SOAK_DIR (default build).
# Exit status 1 when a path failed (a wrong value accepted, a silent failure,
# a hang, a crash); a path that cannot run here (77) is listed as skipped.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-600}
shift || true
paths=("$@")
[ ${#paths[@]} -gt 0 ] || paths=(udp udp serial bridge rqtool:8 scan gateway hostile)
share=${SOAK_FAULT_SHARE:-0.3}
seed=${SOAK_SEED:-1}
dir=${SOAK_DIR:-build}

cmake --build "$dir" -j"${JOBS:-2}" --target rqsoak rqtool rqgw rqsim >/dev/null || exit 2
export QT_QPA_PLATFORM=offscreen
export LD_LIBRARY_PATH="$root/$dir/bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export WINEPREFIX=${WINEPREFIX:-$root/$dir/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
case " ${paths[*]} " in *" bridge "*)
  sh tests/bridge/wine-fixture.sh start "$dir/bin/rqbridge32.exe" >/dev/null 2>&1 || true ;;
esac

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
pids=()
for k in "${!paths[@]}"; do
  p=${paths[$k]%%:*}
  extra=()
  [ "$p" != "${paths[$k]}" ] && extra=(--retries "${paths[$k]#*:}")
  nice -n 10 "$dir/testbin/rqsoak" --path "$p" --seconds "$seconds" --seed $((seed + k)) --fault-share "$share" \
    "${extra[@]}" >"$logs/$k.out" 2>"$logs/$k.err" &
  pids+=($!)
done
status=0
echo "| Path | Transactions | Faults injected (per 100 requests) | Wrong values accepted | Values past stale | Unasked output changes | Silent failures | Hangs | Slow honest requests | Verdict |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for k in "${!paths[@]}"; do
  rc=0
  wait "${pids[$k]}" || rc=$?
  verdict=PASS
  if [ "$rc" -eq 77 ]; then verdict=skipped; elif [ "$rc" -ne 0 ]; then verdict="FAIL ($rc)"; status=1; fi
  awk -v path="${paths[$k]}" -v verdict="$verdict" '
    /^  transactions /{t=$2} /^  faults injected /{f=$3; per=$4} /^  silent failures /{s=$3}
    /^  hangs /{h=$2} /^  wrong values accepted /{w=$4} /^  values past --stale /{p=$4}
    /^  unasked output changes /{u=$4} /^  slow honest requests /{sl=$4}
    END {gsub(/\(/, "", per); printf "| %s | %d | %d (%s) | %d | %d | %d | %d | %d | %d | %s |\n", path, t, f, per, w, p, u, s, h, sl, verdict}' "$logs/$k.out"
  cat "$logs/$k.out" >>"$logs/all"
  [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ] && { echo "--- ${paths[$k]}: $(grep '^rqsoak: FAIL' "$logs/$k.out")"; tail -n 20 "$logs/$k.err"; }
done
case " ${paths[*]} " in *" bridge "*) sh tests/bridge/wine-fixture.sh stop >/dev/null 2>&1 ;; esac
awk '/^  transactions /{t+=$2} /^  faults injected /{f+=$3} /^  silent failures /{s+=$3}
     /^  hangs /{h+=$2} /^  wrong values accepted /{w+=$4}
     /^  values past --stale /{p+=$4} /^  unasked output changes /{u+=$4} /^  slow honest requests /{sl+=$4}
     END {printf "| together | %d | %d (%.1f) | %d | %d | %d | %d | %d | %d | |\n", t, f, t ? 100*f/t : 0, w, p, u, s, h, sl}' "$logs/all"
# What only some paths count: rqtool's commands, the gateway's clients and MQTT.
for k in "${!paths[@]}"; do
  grep -E '^  (rqtool runs|Modbus reads|MQTT|rqtool through|values past|rqgw descriptors|slow honest|hostile|unasked|line hang-ups|spins)' "$logs/$k.out" |
    sed "s/^ */${paths[$k]}: /"
done
exit $status
