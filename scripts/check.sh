#!/bin/bash
# Builds with warnings as errors and runs every test: a normal build, an
# AddressSanitizer+UndefinedBehaviorSanitizer build, the loader tests under
# ThreadSanitizer, and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT

build() {  # build DIR CMAKE_OPTIONS...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

echo "== normal build"
build build/normal
(cd build/normal && ctest -j "$JOBS" --output-on-failure) | tee -a "$LOG"

echo "== address and undefined-behaviour sanitizer build"
build build/asan -DVT_ASAN=ON
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest -j "$JOBS" --output-on-failure) | tee -a "$LOG"

echo "== thread sanitizer run of the loader tests"
build build/tsan -DVT_TSAN=ON
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest -j "$JOBS" -L loader --no-tests=ignore --output-on-failure) | tee -a "$LOG"

echo "== fuzz targets, a short run of each over its seed corpus"
fuzz_status=0
FUZZ_SECONDS=${FUZZ_SMOKE_SECONDS:-20} scripts/fuzz.sh --smoke | tee -a "$LOG" || fuzz_status=$?

# One closing line over the four runs; each fuzz target counts as one test.
awk '/tests passed, [0-9]+ tests? failed out of/ {
       total += $NF; failed += $(NF-5) }
     END { printf "check: %d passed, %d failed\n", total - failed, failed }' "$LOG"
exit $fuzz_status
