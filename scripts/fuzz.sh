#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each one for
# a bounded time from its committed seed corpus.
#   scripts/fuzz.sh [seconds per fuzzer] [fuzzer ...]
#   FUZZ_SECONDS=60 (default), FUZZ_DIR=build-fuzz
# 0 seconds replays the committed seeds once without fuzzing (for CI).
# New inputs go to build-fuzz/corpus/<fuzzer>, crashes to
# build-fuzz/artifacts/<fuzzer>-crash-...; the committed seeds stay as they are.
# Exit status 1 when any fuzzer found something.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
shift || true
dir=${FUZZ_DIR:-build-fuzz}
jobs=${JOBS:-2}
all=(fuzz_settings fuzz_parseint fuzz_errortext fuzz_frames fuzz_adapter_reply fuzz_sim_request fuzz_sequences fuzz_eeprom fuzz_image fuzz_plant fuzz_cli
  fuzz_bridge_requests fuzz_bridge_answers fuzz_portmap fuzz_gateway_config fuzz_modbus_request
  fuzz_mqtt_command fuzz_converter fuzz_modbus_stream)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

# clang and its sanitizer and libFuzzer runtimes (Debian: libclang-rt-14-dev).
need=()
for p in clang-14 libclang-rt-14-dev cmake qt6-base-dev; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  if [ "$(id -u)" -ne 0 ]; then echo "run as root to install packages"; exit 1; fi
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# Configured every time (quick when nothing changed), so that a new target is known.
CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRQ_FUZZ=ON \
  -DRQ_SANITIZE=ON -DRQ_BUILD_TESTS=OFF -DRQ_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$jobs" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen
# fuzz_sequences loads its adapter library (libKRQ4638.so) from here.
export LD_LIBRARY_PATH="$root/$dir/fuzz/adapters${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
mkdir -p "$dir/artifacts"
failed=()
for t in "${targets[@]}"; do
  work="$dir/corpus/$t"
  mkdir -p "$work"
  if [ "$seconds" -eq 0 ]; then
    # Replay: every committed seed once, no mutation; quick and the same every time.
    echo "== $t: the committed seeds"
    run=(-runs=0 "fuzz/corpus/$t")
  else
    echo "== $t: ${seconds} s"
    run=(-max_total_time="$seconds" "$work" "fuzz/corpus/$t")
  fi
  if ! "$dir/fuzz/$t" -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$dir/artifacts/$t-" "${run[@]}" >"$dir/$t.log" 2>&1; then
    failed+=("$t")
    tail -40 "$dir/$t.log"
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$dir/$t.log" | sed "s/^/   $t: /" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $dir/artifacts)"
  exit 1
fi
echo "fuzz: ${#targets[@]} fuzzers, ${seconds} s each (0: seeds only), nothing found"
