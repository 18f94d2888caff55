#!/bin/bash
# What the manifest costs: this tree's vtu_replay_gen against the tree before
# the manifest, run alternately on the same log trees, the replay directory
# in memory and on the disk.
#
#   bench/manifest_cost.sh [REQUESTS] [RUNS]     (defaults: 300000 requests, 10 runs)
#
# The tree of small bodies gets MANIFEST_SMALL_REQUESTS (default 1000000,
# 0.6 GB of logs), so that its runs last long enough to time.
#
# Builds the base (MANIFEST_BASE, default cc45ff4, the commit before the
# manifest) from git into build/base-<commit> once, then runs
# bench/run_bench.sh with it as BENCH_BASE and the automatic thread count,
# for each body mix of MANIFEST_BODIES (default "wide small") and each place
# of MANIFEST_PLACES (default "tmpfs disk"). Each prints its medians and the
# paired ratios, wall and processor time, this tree's over the base's (see
# run_bench.sh: rounds in twos, one in each order; an even RUNS uses all).
set -euo pipefail
cd "$(dirname "$0")/.."
REQUESTS=${1:-300000}
RUNS=${2:-10}
BASE_COMMIT=$(git rev-parse --short "${MANIFEST_BASE:-cc45ff4}^{commit}")
BASE_DIR=build/base-$BASE_COMMIT
BASE_TOOL=$PWD/$BASE_DIR/build/release/tools/replay_gen/vtu_replay_gen

scripts/setup.sh
if [ ! -x "$BASE_TOOL" ]; then
  echo "bench: building $BASE_COMMIT in $BASE_DIR"
  rm -rf "$BASE_DIR"
  mkdir -p "$BASE_DIR"
  git archive "$BASE_COMMIT" | tar -x -C "$BASE_DIR"
  cmake -S "$BASE_DIR" -B "$BASE_DIR/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BASE_DIR/build/release" -j 2 --target vtu_replay_gen >/dev/null
fi

for body in ${MANIFEST_BODIES:-wide small}; do
  for place in ${MANIFEST_PLACES:-tmpfs disk}; do
    echo "== $body bodies, replay directory on $place"
    tmpfs=0
    [ "$place" = tmpfs ] && tmpfs=1
    requests=$REQUESTS
    [ "$body" = small ] && requests=${MANIFEST_SMALL_REQUESTS:-1000000}
    BENCH_BODY=$body BENCH_TMPFS=$tmpfs BENCH_THREADS=auto BENCH_BASE=$BASE_TOOL \
      bench/run_bench.sh "$requests" "$RUNS"
  done
done
