#!/bin/bash
# Builds with warnings as errors and runs every test: a normal build, an
# AddressSanitizer+UndefinedBehaviorSanitizer build, the loader tests under
# ThreadSanitizer, and a short run of every fuzz target. Every part runs even
# when an earlier one fails; the last line counts them all
# ("check: N passed, N failed"), and the exit status is non-zero when
# anything failed. A build that fails counts as one failed test.
set -uo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT
status=0

build() {  # build DIR CMAKE_OPTIONS...
  local dir=$1
  shift
  if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null ||
    ! cmake --build "$dir" -j "$JOBS"; then
    echo "check: the build in $dir failed"
    echo "build-failure" >>"$LOG"
    status=1
    return 1
  fi
}

# run_ctest DIR ARGS...: ctest in DIR, its output kept for the count.
run_ctest() {
  local dir=$1
  shift
  (cd "$dir" && ctest -j "$JOBS" --output-on-failure "$@") | tee -a "$LOG" || status=1
}

echo "== normal build"
build build/normal && run_ctest build/normal

echo "== address and undefined-behaviour sanitizer build"
build build/asan -DVT_ASAN=ON && ASAN_OPTIONS=detect_leaks=1 run_ctest build/asan

echo "== thread sanitizer run of the loader tests"
build build/tsan -DVT_TSAN=ON &&
  TSAN_OPTIONS=halt_on_error=1 run_ctest build/tsan -L loader --no-tests=ignore

echo "== fuzz targets, a short run of each over its seed corpus"
FUZZ_LOG=$(mktemp)
FUZZ_SECONDS=${FUZZ_SMOKE_SECONDS:-20} scripts/fuzz.sh --smoke | tee "$FUZZ_LOG" || status=1
cat "$FUZZ_LOG" >>"$LOG"
# A fuzz build that failed printed no count of its own.
grep -q 'tests passed, [0-9]* tests\? failed out of' "$FUZZ_LOG" || echo "build-failure" >>"$LOG"
rm -f "$FUZZ_LOG"

# One closing line over the four runs; each fuzz target counts as one test,
# each failed build as one failed test.
awk '/tests passed, [0-9]+ tests? failed out of/ { total += $NF; failed += $(NF-5) }
     /^build-failure$/ { total += 1; failed += 1 }
     END { printf "check: %d passed, %d failed\n", total - failed, failed }' "$LOG"
exit $status
