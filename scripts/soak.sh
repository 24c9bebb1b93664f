#!/usr/bin/env bash
# Fault soak: every way the tool reaches modules, against rqsim, while the
# simulator damages a share of its replies: the LAN converter library over
# UDP, the serial port library, the LAN converter library through the Wine
# bridge and the stand-in maker's library, rqtool's fleet backups and
# restores of changed bytes, search sweeps, and rqgw polling the bus while
# Modbus TCP clients read it, and again while hostile clients, MQTT command
# floods and SIGHUPs try to knock it over (hostile). Built with AddressSanitizer,
# LeakSanitizer and UBSan in build-asan (shared with scripts/sanitize.sh).
#   scripts/soak.sh [seconds] [seed]       (defaults 120 and 1)
#   SOAK_FAULT_SHARE=0.3  share of requests faulted, up to 0.3 (default: the
#                         mix as written, about 0.1)
#   SOAK_PATHS="udp serial bridge rqtool scan gateway hostile"  the paths to run (default all)
# The time is shared out by weight: udp 4, serial 2, bridge 2, rqtool 1,
# scan 1, gateway 2, hostile 2. Fails on a wrong value accepted, a failure without a message, a
# transaction that outlives its timeout, a crash or a leak. The bridge path
# is skipped (not failed) without MinGW or Wine, the gateway paths without rqgw.
# rqsoak keeps ASan's quarantine of its children small, so that rqgw's
# memory is judged as in the plain build; a FAIL names what failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-${SOAK_SECONDS:-120}}
seed=${2:-${SOAK_SEED:-1}}
share=${SOAK_FAULT_SHARE:-0}
paths=${SOAK_PATHS:-udp serial bridge rqtool scan gateway hostile}
dir=${SOAK_DIR:-build-asan}
jobs=${JOBS:-2}

launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRQ_SANITIZE=ON -DRQ_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$jobs" --target rqsoak

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen
export LD_LIBRARY_PATH="$root/$dir/bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export WINEPREFIX=${WINEPREFIX:-$root/$dir/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

weight() { case $1 in udp) echo 4 ;; serial|bridge|gateway|hostile) echo 2 ;; *) echo 1 ;; esac; }
total=0
for p in $paths; do total=$((total + $(weight "$p"))); done
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
for p in $paths; do
  s=$((seconds * $(weight "$p") / total))
  [ "$s" -gt 0 ] || s=1
  if [ "$p" = bridge ]; then
    # One Wine server for the whole run; the first start creates the prefix.
    sh tests/bridge/wine-fixture.sh start "$dir/bin/rqbridge32.exe" >/dev/null 2>&1 || true
  fi
  rc=0
  "$dir/testbin/rqsoak" --path "$p" --seconds "$s" --seed "$seed" --fault-share "$share" | tee -a "$log" || rc=$?
  [ "$p" = bridge ] && sh tests/bridge/wine-fixture.sh stop >/dev/null 2>&1
  if [ "$rc" -eq 77 ]; then echo "rqsoak: $p skipped"; elif [ "$rc" -ne 0 ]; then status=1; fi
done
# The sums over every path.
awk '/^  transactions /{t+=$2} /^  faults injected /{f+=$3} /^  silent failures /{s+=$3}
     /^  hangs /{h+=$2} /^  wrong values accepted /{w+=$4}
     END {printf "soak: all paths: %d transactions, %d faults injected (%.1f %%), wrong values accepted %d, silent failures %d, hangs %d\n",
          t, f, t ? 100*f/t : 0, w, s, h}' "$log"
exit $status
