#!/bin/bash
# Benchmark of vtu_replay_gen against the I/O floor of the same disk.
#
#   bench/run_bench.sh [REQUESTS] [RUNS]      (defaults: 1000000 requests, 3 runs)
#
# Generates a synthetic log tree (about 2 KB per request, so about 2 GB for a
# million requests) under BENCH_DIR (default build/bench), then runs RUNS
# rounds, each in this order:
#   floor  - copies every input byte once into one file on the same disk;
#   tool   - vtu_replay_gen with the automatic thread count, -n 1 and -n 2.
# It prints medians: wall time, requests per second, input MB/s, the ratio of
# the tool's time to the floor's, the time of each step, and peak RSS with
# bytes per request. Figures are only comparable within one run of this
# script: the machines are shared and noisy.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
REQUESTS=${1:-1000000}
RUNS=${2:-3}
BENCH_DIR=${BENCH_DIR:-$ROOT/build/bench}
TOOL=$ROOT/build/release/tools/replay_gen/vtu_replay_gen
LOGGEN=$ROOT/build/release/tools/loggen/vt_loggen
CHECK=$ROOT/build/release/tools/package/vt_package_check

scripts/setup.sh
command -v /usr/bin/time >/dev/null || { apt-get update -qq && apt-get install -y -qq time >/dev/null; }
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j 2 --target vtu_replay_gen vt_loggen vt_package_check \
  vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name >/dev/null

LOGS=$BENCH_DIR/logs
SUMMARY=$BENCH_DIR/loggen.summary
if [ ! -f "$SUMMARY" ] || ! grep -qx "requests=$REQUESTS" "$SUMMARY"; then
  rm -rf "$LOGS"
  mkdir -p "$BENCH_DIR"
  echo "bench: generating $REQUESTS requests into $LOGS"
  "$LOGGEN" --out "$LOGS" --days 2 --files-per-day 8 --requests "$REQUESTS" \
    --customers $((REQUESTS / 20 + 1)) --services 20 --min-body 300 --max-body 6000 \
    --large-share 0.0005 --seed 1 --quiet >"$SUMMARY"
fi
INPUT_BYTES=$(du -sb "$LOGS" | cut -f1)
EXPECTED=$(sed -n 's/^expected_accepted_without_period=//p' "$SUMMARY")
echo "bench: $REQUESTS requests, $((INPUT_BYTES / 1000000)) MB of logs, $EXPECTED expected accepted"

calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# floor: every input byte copied once into one file on the same disk.
run_floor() {
  local out=$BENCH_DIR/floor.copy start end
  rm -f "$out"
  sync
  start=$EPOCHREALTIME
  find "$LOGS" -type f -name 'SOAP.log*' -print0 | sort -z | xargs -0 cat >"$out"
  sync "$out"
  end=$EPOCHREALTIME
  rm -f "$out"
  calc "$end - $start"
}

# One tool run; prints "wall step1 step2 step3 step4 rest peak_kb".
run_tool() {
  local threads=$1 dir=$BENCH_DIR/run
  rm -rf "$dir"
  mkdir -p "$dir/wdir/scenarios/bench/replay"
  cat >"$dir/replay.conf" <<EOF
INPUT_DIR|$LOGS
REPLAY_DIR|$dir/replay
SCRIPT_NAME|bench/replay/script
SCENARIO_NAME|bench/replay/bench.conf
NUM_VVM|4
EOF
  local args=(-i "$dir/replay.conf")
  [ "$threads" != auto ] && args+=(-n "$threads")
  sync
  local start=$EPOCHREALTIME
  VT_WDIR=$dir/wdir PATH=$ROOT/build/release/suite_bin:$PATH \
    /usr/bin/time -f '%M' -o "$dir/rss" stdbuf -oL "$TOOL" "${args[@]}" 2>"$dir/stderr" |
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$dir/stdout"
  sync "$dir/replay"/* 2>/dev/null || true
  local end=$EPOCHREALTIME
  if ! grep -q "Processing done" "$dir/stdout"; then
    echo "bench: the tool failed; see $dir" >&2
    exit 1
  fi
  step_time() { awk -v a="$1" -v b="$2" 'index($0, a) { s = $1 } index($0, b) { e = $1 } END { printf "%.3f", e - s }' "$dir/stdout"; }
  local s1 s2 s3 s4 rest
  s1=$(step_time "Starting Step1" "Completed Step1")
  s2=$(step_time "Starting Step2" "Completed Step2")
  s3=$(step_time "Starting Step3" "Completed Step3")
  s4=$(step_time "Starting Step4" "Completed Step4")
  rest=$(step_time "Completed Step4" "Processing done")
  echo "$(calc "$end - $start") $s1 $s2 $s3 $s4 $rest $(cat "$dir/rss")"
}

verify_last_run() {
  local valid
  valid=$(sed -n 's/.*Valid request = \([0-9,]*\).*/\1/p' "$BENCH_DIR/run/stdout" | tr -d ,)
  if [ "$valid" != "$EXPECTED" ]; then
    echo "bench: the tool accepted $valid requests, the generator expects $EXPECTED" >&2
    exit 1
  fi
  if [ -x "$CHECK" ]; then "$CHECK" "$BENCH_DIR/run/replay" >/dev/null; fi
}

# Rounds interleave the floor and the three thread settings, so that a slow
# spell of the shared machine, or the writeback left by the run before, falls
# on all of them alike rather than on whichever came first.
floors=()
declare -A rows
for round in $(seq "$RUNS"); do
  floors+=("$(run_floor)")
  for threads in auto 1 2; do
    rows[$threads]+="$(run_tool "$threads")"$'\n'
    [ "$round" = "$RUNS" ] && verify_last_run
  done
done
FLOOR=$(printf '%s\n' "${floors[@]}" | median)
printf 'floor (copy of all input bytes once): %.2f s, %.0f MB/s\n' "$FLOOR" \
  "$(calc "$INPUT_BYTES / 1000000 / $FLOOR")"

printf '\n%-8s %8s %10s %8s %7s %7s %7s %7s %7s %7s %9s %8s\n' threads wall req/s MB/s x_floor \
  step1 step2 step3 step4 rest peak_MB B/req
for threads in auto 1 2; do
  col() { printf '%s' "${rows[$threads]}" | awk -v c="$1" '{ print $c }' | median; }
  wall=$(col 1)
  peak_kb=$(col 7)
  printf '%-8s %8.2f %10.0f %8.0f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %9.1f %8.0f\n' "$threads" \
    "$wall" "$(calc "$REQUESTS / $wall")" "$(calc "$INPUT_BYTES / 1000000 / $wall")" \
    "$(calc "$wall / $FLOOR")" "$(col 2)" "$(col 3)" "$(col 4)" "$(col 5)" "$(col 6)" \
    "$(calc "$peak_kb / 1024")" "$(calc "$peak_kb * 1024 / $REQUESTS")"
done
rm -rf "$BENCH_DIR/run"
