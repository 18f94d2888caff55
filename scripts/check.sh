#!/bin/bash
# Builds with warnings as errors and runs every test: a normal build, an
# AddressSanitizer+UndefinedBehaviorSanitizer build, and the loader tests
# under ThreadSanitizer.
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

# One closing line over the three runs.
awk '/tests passed, [0-9]+ tests? failed out of/ {
       total += $NF; failed += $(NF-5) }
     END { printf "check: %d passed, %d failed\n", total - failed, failed }' "$LOG"
