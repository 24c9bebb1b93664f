#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer in its own folder and runs every test there.
#   scripts/sanitize.sh [build folder]     (default build-asan)
# Any report of a sanitizer fails the run: UBSan halts at the first finding,
# ASan at the first memory error, LSan at exit of a program that leaked.
#
#   scripts/sanitize.sh --thread [build folder]     (default build-tsan)
# ThreadSanitizer on every test that starts a thread (CTest label `threads`:
# the gateway, the adapter libraries' connections, the search and the
# diagnostics dialogs' workers, rqsoak's gateway paths): builds only what
# those tests need and runs them (those whose names match the regular
# expression TSAN_TESTS, when it is set). Every process of the run (rqgw,
# rqsim, rqtool, the test programs) writes its reports into the build folder;
# any report fails the run and is printed. scripts/tsan.supp holds the
# suppressions, each for a library built without ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
thread=0
if [ "${1:-}" = --thread ]; then
  thread=1
  shift
fi
if [ $thread = 1 ]; then dir=${1:-build-tsan}; else dir=${1:-build-asan}; fi
jobs=${JOBS:-2}
# Fewer tests at once than in the plain build: a sanitized process needs two
# to five times the processor, and the timing of the serial line's tests
# (late bytes, collisions) suffers on a loaded machine.
test_jobs=${SANITIZE_TEST_JOBS:-3}
start=$(date +%s)

launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
export QT_QPA_PLATFORM=offscreen
status=0

if [ $thread = 1 ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRQ_SANITIZE_THREAD=ON -DRQ_BUILD_BENCH=OFF \
    "${launcher[@]}" >/dev/null
  # The programs of the tests labelled `threads` with what they depend on,
  # not the rest of the tree.
  cmake --build "$dir" -j"$jobs" --target thread-tests
  reports="$root/$dir/tsan-reports"
  rm -rf "$reports"
  mkdir -p "$reports"
  # As under ASan: the sanitizer's dlopen interceptor hides the program's RUNPATH.
  export LD_LIBRARY_PATH="$root/$dir/bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  # Reports go to files (log_path), so that one of a child process no test
  # looks at still fails the run; second_deadlock_stack names both lock orders.
  # die_after_fork=0: a test with a thread of its own starts rqsim, rqtool
  # and rqgw (fork, then exec at once), which TSan otherwise refuses.
  # ignore_noninstrumented_modules=1: Qt Gui works on pool threads of its
  # own behind every message box and window (image conversion), handing the
  # work over on futexes TSan cannot see; accesses made inside the
  # uninstrumented Qt libraries are not judged, ours still are.
  export TSAN_OPTIONS="log_path=$reports/tsan:suppressions=$root/scripts/tsan.supp:second_deadlock_stack=1:history_size=4:die_after_fork=0:ignore_noninstrumented_modules=1"
  # Two at a time: a process under TSan needs five to fifteen times the
  # processor, and the gateway tests' replies must come within their timeouts.
  (cd "$dir" && ctest --output-on-failure -j"${SANITIZE_TEST_JOBS:-2}" --timeout 600 -L threads ${TSAN_TESTS:+-R "$TSAN_TESTS"}) ||
    status=$?
  if compgen -G "$reports/tsan.*" >/dev/null; then
    cat "$reports"/tsan.*
    echo "sanitize --thread: ThreadSanitizer reported (above; files in $reports)"
    status=1
  fi
  echo "sanitize --thread: $(( $(date +%s) - start )) s in all"
  exit $status
fi

cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRQ_SANITIZE=ON -DRQ_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$dir" -j"$jobs"

# No leak is suppressed: every report fails the run. (strict_string_checks
# stays off: it flags a strndup inside the system's libxkbcommon-x11 when the
# real program opens an X window.)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:detect_odr_violation=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# ASan's dlopen interceptor makes the sanitizer runtime the caller, so the
# program's RUNPATH ($ORIGIN) no longer finds the adapter libraries beside it
# (a plain build does). Tests that choose their libraries set their own path.
export LD_LIBRARY_PATH="$root/$dir/bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
(cd "$dir" && ctest --output-on-failure -j"$test_jobs" --timeout 600) || status=$?
echo "sanitize: $(( $(date +%s) - start )) s in all"
exit $status
