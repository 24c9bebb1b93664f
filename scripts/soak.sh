#!/usr/bin/env bash
# Fault soak: the transfer sequences and measured-value reads against rqsim
# through the real LAN converter and serial port libraries while the
# simulator damages a share of its replies. Built with AddressSanitizer, LeakSanitizer and UBSan in
# build-asan (shared with scripts/sanitize.sh).
#   scripts/soak.sh [seconds] [seed]       (defaults 120 and 1)
# Fails on a wrong value accepted, a failure without a message, a transaction
# that outlives its timeout, a crash or a leak.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-${SOAK_SECONDS:-120}}
seed=${2:-${SOAK_SEED:-1}}
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
# Two thirds of the time over UDP (LAN converter), one third on a serial line.
status=0
"$dir/testbin/rqsoak" --line udp --seconds $(( seconds * 2 / 3 )) --seed "$seed" || status=1
"$dir/testbin/rqsoak" --line serial --seconds $(( seconds - seconds * 2 / 3 )) --seed "$seed" || status=1
exit $status
