#!/bin/bash
# Benchmark of vtu_replay_gen against the I/O floor of the same disk.
#
#   bench/run_bench.sh [REQUESTS] [RUNS]      (defaults: 1000000 requests, 3 runs)
#
# Generates a synthetic log tree under BENCH_DIR (default build/bench), then
# runs RUNS rounds, each in this order:
#   floor  - copies every input byte once into one file on the same disk;
#   tool   - vtu_replay_gen with the automatic thread count, -n 1 and -n 2.
#
# Environment:
#   BENCH_BODY=small|mix|large|wide  body sizes of the tree: 300 to 1,000
#                  bytes, 300 to 6,000 (the default, about 2 KB per request,
#                  2 GB for a million requests), 10 to 40 KB, or vt_loggen's
#                  own defaults (300 to 40,000 and one in a thousand up to 25
#                  times that: about 10 KB per request); one tree per mix.
#   BENCH_TMPFS=1  the replay directory and the floor's copy go to /dev/shm
#                  (memory), the logs stay where they are: the tool's own
#                  cost, without a disk. Either way the logs are read once,
#                  untimed, before every timed run, so each starts with them
#                  in the page cache.
#   BENCH_THREADS  the settings to run (default "auto 1 2").
#   BENCH_VVM      NUM_VVM of the runs (default 4).
#   BENCH_VERBOSE=1  prints each round's floor and runs as they are measured.
#   BENCH_BASE     another vtu_replay_gen binary (an older build), run with
#                  the automatic count in every round as the row "base".
# It prints medians: wall time, processor time (user and system), requests
# per second, input MB/s, the ratio of the tool's time to the floor's, the
# time of each step, and peak RSS with bytes per request; with BENCH_BASE,
# the ratios to the base paired by round. Figures are only comparable within
# one run of this script: the machines are shared and noisy.
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

BODY=${BENCH_BODY:-mix}
case $BODY in
  small) BODY_ARGS=(--min-body 300 --max-body 1000 --large-share 0.0005) ;;
  mix) BODY_ARGS=(--min-body 300 --max-body 6000 --large-share 0.0005) ;;
  large) BODY_ARGS=(--min-body 10000 --max-body 40000 --large-share 0.0005) ;;
  wide) BODY_ARGS=() ;;
  *) echo "bench: BENCH_BODY must be small, mix, large or wide" >&2; exit 2 ;;
esac
THREAD_SETTINGS=(${BENCH_THREADS:-auto 1 2})
OUT_DIR=$BENCH_DIR
if [ "${BENCH_TMPFS:-0}" = 1 ]; then
  # A fresh directory of its own: nothing planted under a guessable name.
  OUT_DIR=$(mktemp -d /dev/shm/vt_bench.XXXXXX)
  trap 'rm -rf "$OUT_DIR"' EXIT
fi

LOGS=$BENCH_DIR/logs-$BODY
SUMMARY=$BENCH_DIR/loggen-$BODY.summary
if [ ! -f "$SUMMARY" ] || ! grep -qx "requests=$REQUESTS" "$SUMMARY"; then
  rm -rf "$LOGS"
  mkdir -p "$BENCH_DIR"
  echo "bench: generating $REQUESTS requests ($BODY bodies) into $LOGS"
  "$LOGGEN" --out "$LOGS" --days 2 --files-per-day 8 --requests "$REQUESTS" \
    --customers $((REQUESTS / 20 + 1)) --services 20 ${BODY_ARGS[@]+"${BODY_ARGS[@]}"} \
    --seed 1 --quiet >"$SUMMARY"
fi
INPUT_BYTES=$(du -sb "$LOGS" | cut -f1)
EXPECTED=$(sed -n 's/^expected_accepted_without_period=//p' "$SUMMARY")
echo "bench: $REQUESTS requests, $BODY bodies, $((INPUT_BYTES / 1000000)) MB of logs," \
  "$EXPECTED expected accepted, output in $OUT_DIR"

calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Every log file once, in name order, to standard output.
cat_logs() {
  find "$LOGS" -type f -name 'SOAP.log*' -print0 | sort -z | xargs -0 cat
}

# Reads the logs once, untimed, so that every timed run starts with them in
# the page cache: on this virtual machine the cache loses pages between runs,
# and a run that found them gone would be timed reading the disk.
warm_logs() {
  cat_logs >/dev/null
}

# floor: every input byte copied once into one file where the replay
# directory is (the disk, or memory with BENCH_TMPFS=1).
run_floor() {
  local out=$OUT_DIR/floor.copy start end
  rm -f "$out"
  sync
  warm_logs
  start=$EPOCHREALTIME
  cat_logs >"$out"
  sync "$out"
  end=$EPOCHREALTIME
  rm -f "$out"
  calc "$end - $start"
}

# One tool run; prints "wall step1 step2 step3 step4 rest peak_kb cpu" (cpu:
# user and system processor seconds of the tool and the commands it ran).
run_tool() {
  local threads=$1 dir=$OUT_DIR/run tool=$TOOL
  if [ "$threads" = base ]; then
    tool=$BENCH_BASE
    threads=auto
  fi
  rm -rf "$dir"
  mkdir -p "$dir/wdir/scenarios/bench/replay"
  cat >"$dir/replay.conf" <<EOF
INPUT_DIR|$LOGS
REPLAY_DIR|$dir/replay
SCRIPT_NAME|bench/replay/script
SCENARIO_NAME|bench/replay/bench.conf
NUM_VVM|${BENCH_VVM:-4}
EOF
  local args=(-i "$dir/replay.conf")
  [ "$threads" != auto ] && args+=(-n "$threads")
  sync
  warm_logs
  local start=$EPOCHREALTIME
  VT_WDIR=$dir/wdir PATH=$ROOT/build/release/suite_bin:$PATH \
    /usr/bin/time -f '%M %U %S' -o "$dir/rss" stdbuf -oL "$tool" "${args[@]}" 2>"$dir/stderr" |
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
  echo "$(calc "$end - $start") $s1 $s2 $s3 $s4 $rest $(awk '{ printf "%d %.2f", $1, $2 + $3 }' "$dir/rss")"
}

verify_last_run() {
  local valid
  valid=$(sed -n 's/.*Valid request = \([0-9,]*\).*/\1/p' "$OUT_DIR/run/stdout" | tr -d ,)
  if [ "$valid" != "$EXPECTED" ]; then
    echo "bench: the tool accepted $valid requests, the generator expects $EXPECTED" >&2
    exit 1
  fi
  if [ -x "$CHECK" ]; then "$CHECK" "$OUT_DIR/run/replay" >/dev/null; fi
}

# Rounds interleave the floor and the three thread settings, so that a slow
# spell of the shared machine, or the writeback left by the run before, falls
# on all of them alike rather than on whichever came first.
[ -n "${BENCH_BASE:-}" ] && THREAD_SETTINGS+=(base)
floors=()
declare -A rows
for round in $(seq "$RUNS"); do
  floors+=("$(run_floor)")
  [ "${BENCH_VERBOSE:-0}" = 1 ] && echo "round $round: floor ${floors[-1]} s" >&2
  # Every other round runs the settings in the opposite order: none always
  # follows the same one.
  order=("${THREAD_SETTINGS[@]}")
  if [ $((round % 2)) = 0 ]; then
    order=()
    for ((i = ${#THREAD_SETTINGS[@]} - 1; i >= 0; i--)); do order+=("${THREAD_SETTINGS[i]}"); done
  fi
  for threads in "${order[@]}"; do
    rows[$threads]+="$(run_tool "$threads")"$'\n'
    [ "${BENCH_VERBOSE:-0}" = 1 ] && echo "round $round: $threads $(printf '%s' "${rows[$threads]}" | tail -1)" >&2
    [ "$round" = "$RUNS" ] && verify_last_run
    # The next run, floor or tool, finds the memory the output took free
    # again, as this run found it.
    rm -rf "$OUT_DIR/run"
  done
done
FLOOR=$(printf '%s\n' "${floors[@]}" | median)
printf 'floor (copy of all input bytes once): %.2f s, %.0f MB/s\n' "$FLOOR" \
  "$(calc "$INPUT_BYTES / 1000000 / $FLOOR")"

printf '\n%-8s %8s %6s %10s %8s %7s %7s %7s %7s %7s %7s %9s %8s\n' threads wall cpu req/s MB/s \
  x_floor step1 step2 step3 step4 rest peak_MB B/req
for threads in "${THREAD_SETTINGS[@]}"; do
  col() { printf '%s' "${rows[$threads]}" | awk -v c="$1" '{ print $c }' | median; }
  wall=$(col 1)
  peak_kb=$(col 7)
  printf '%-8s %8.2f %6.2f %10.0f %8.0f %7.2f %7.2f %7.2f %7.2f %7.2f %7.2f %9.1f %8.0f\n' \
    "$threads" "$wall" "$(col 8)" "$(calc "$REQUESTS / $wall")" \
    "$(calc "$INPUT_BYTES / 1000000 / $wall")" "$(calc "$wall / $FLOOR")" "$(col 2)" "$(col 3)" \
    "$(col 4)" "$(col 5)" "$(col 6)" "$(calc "$peak_kb / 1024")" \
    "$(calc "$peak_kb * 1024 / $REQUESTS")"
done

# With a base, each setting's wall time over the base's of the same round:
# the paired figure, less swayed by the machine's slow spells than a ratio of
# medians; and the same of the processor time, which the other work on a
# shared machine sways least. The run that comes first in a round can pay
# for what the one before left (on a disk, the memory its pages held): so
# rounds go in twos, one in each order, each two giving the geometric mean
# of its two ratios. Prints the median of these, the lowest and highest, and
# each two's figure in order.
paired() {  # paired SETTING COLUMN
  local twos
  twos=$(paste -d' ' <(printf '%s' "${rows[$1]}" | awk -v c="$2" '{ print $c }') \
    <(printf '%s' "${rows[base]}" | awk -v c="$2" '{ print $c }') |
    awk 'NR % 2 { r = $1 / $2; next } { printf "%.3f\n", sqrt(r * $1 / $2) }')
  [ -n "$twos" ] || { printf 'needs two rounds'; return; }
  printf 'median %.3f, lowest %.3f, highest %.3f (%s)' "$(printf '%s\n' "$twos" | median)" \
    "$(printf '%s\n' "$twos" | sort -g | head -1)" "$(printf '%s\n' "$twos" | sort -g | tail -1)" \
    "$(printf '%s\n' "$twos" | tr '\n' ' ' | sed 's/ $//')"
}
if [ -n "${BENCH_BASE:-}" ]; then
  echo
  for threads in "${THREAD_SETTINGS[@]}"; do
    [ "$threads" = base ] && continue
    echo "$threads / base, paired by two rounds: wall $(paired "$threads" 1)"
    echo "$threads / base, paired by two rounds: cpu  $(paired "$threads" 8)"
  done
fi
