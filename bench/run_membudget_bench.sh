#!/bin/bash
# Benchmark of vtu_replay_gen under a memory budget against the same run
# without one.
#
#   bench/run_membudget_bench.sh [REQUESTS] [RUNS]   (defaults: 5000000 requests, 3 runs)
#
# Generates a log tree of small bodies (BENCH_BODY=small: 300 to 1,000 bytes,
# as run_bench.sh's; tiny: 100 to 400, for trees of tens of millions of
# requests on a small disk) under BENCH_DIR (default build/bench) once, then
# runs RUNS rounds, each of the two settings in turn:
#   unlimited - no MEMORY_LIMIT (the default budget holds every request);
#   budget    - MEMORY_LIMIT of BENCH_BUDGET, by default a sixteenth of the
#               peak resident memory of the first unlimited run.
# Both write to the disk (BENCH_TMPFS=1: /dev/shm), NUM_VVM 4 (BENCH_VVM),
# with the automatic loader thread count (BENCH_THREADS sets -n). Before
# every run the logs are read once, untimed, and after it its output is
# deleted. The last round's packages are compared byte for byte (request and
# index files, error logs), and the budget run's spill line must report that
# it spilled.
#
# It prints medians: wall time and its ratio to the unlimited run, the time
# of each step from the tool's own lines, peak RSS, the budget, what the peak
# exceeds the budget by, the bytes written to spill files, and per-request
# figures. Figures are only comparable within one run of this script.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
REQUESTS=${1:-5000000}
RUNS=${2:-3}
BENCH_DIR=${BENCH_DIR:-$ROOT/build/bench}
TOOL=$ROOT/build/release/tools/replay_gen/vtu_replay_gen
LOGGEN=$ROOT/build/release/tools/loggen/vt_loggen

scripts/setup.sh
command -v /usr/bin/time >/dev/null || { apt-get update -qq && apt-get install -y -qq time >/dev/null; }
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j 2 --target vtu_replay_gen vt_loggen vtu_gen_cscript vtu_gen_script \
  vti_get_page vtu_change_page_name >/dev/null

OUT_DIR=$BENCH_DIR/membudget
if [ "${BENCH_TMPFS:-0}" = 1 ]; then
  OUT_DIR=$(mktemp -d /dev/shm/vt_membudget.XXXXXX)
  trap 'rm -rf "$OUT_DIR"' EXIT
fi
BODY=${BENCH_BODY:-small}
case $BODY in
  small) BODY_ARGS=(--min-body 300 --max-body 1000) ;;
  tiny) BODY_ARGS=(--min-body 100 --max-body 400) ;;
  *) echo "bench: BENCH_BODY must be small or tiny" >&2; exit 2 ;;
esac
LOGS=$BENCH_DIR/logs-$BODY
SUMMARY=$BENCH_DIR/loggen-$BODY.summary
if [ ! -f "$SUMMARY" ] || ! grep -qx "requests=$REQUESTS" "$SUMMARY"; then
  rm -rf "$LOGS"
  mkdir -p "$BENCH_DIR"
  echo "bench: generating $REQUESTS requests ($BODY bodies) into $LOGS"
  "$LOGGEN" --out "$LOGS" --days 2 --files-per-day 8 --requests "$REQUESTS" \
    --customers $((REQUESTS / 20 + 1)) --services 20 "${BODY_ARGS[@]}" \
    --large-share 0.0005 --seed 1 --quiet >"$SUMMARY"
fi
INPUT_BYTES=$(du -sb "$LOGS" | cut -f1)
echo "bench: $REQUESTS requests, $BODY bodies, $((INPUT_BYTES / 1000000)) MB of logs, output in $OUT_DIR"

calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
warm_logs() { find "$LOGS" -type f -name 'SOAP.log*' -print0 | xargs -0 cat >/dev/null; }

# One run into $OUT_DIR/$1 with MEMORY_LIMIT $2 ("" for none); prints
# "wall step1 step2 step3 step4 rest peak_kb spill_bytes".
run_tool() {
  local dir=$OUT_DIR/$1 limit=$2
  rm -rf "$dir"
  mkdir -p "$dir/wdir/scenarios/bench/replay"
  {
    echo "INPUT_DIR|$LOGS"
    echo "REPLAY_DIR|$dir/replay"
    echo "SCRIPT_NAME|bench/replay/script"
    echo "SCENARIO_NAME|bench/replay/bench.conf"
    echo "NUM_VVM|${BENCH_VVM:-4}"
    [ -z "$limit" ] || echo "MEMORY_LIMIT|$limit"
  } >"$dir/replay.conf"
  local args=(-i "$dir/replay.conf")
  [ -n "${BENCH_THREADS:-}" ] && args+=(-n "$BENCH_THREADS")
  sync
  warm_logs
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
  local spill
  spill=$(sed -n 's/.*Spill: \([0-9.]*\) \([KMG]\)iB written.*/\1 \2/p' "$dir/stdout" |
    awk '{ m = $2 == "K" ? 1024 : $2 == "M" ? 1048576 : 1073741824; printf "%.0f", $1 * m }')
  echo "$(calc "$end - $start") $(step_time "Starting Step1" "Completed Step1")" \
    "$(step_time "Starting Step2" "Completed Step2") $(step_time "Starting Step3" "Completed Step3")" \
    "$(step_time "Starting Step4" "Completed Step4") $(step_time "Completed Step4" "Processing done")" \
    "$(cat "$dir/rss") ${spill:-0}"
}

BUDGET=${BENCH_BUDGET:-}
declare -A rows
for round in $(seq "$RUNS"); do
  rows[unlimited]+="$(run_tool unlimited "")"$'\n'
  if [ -z "$BUDGET" ]; then
    peak_kb=$(printf '%s' "${rows[unlimited]}" | awk 'NR == 1 { print $7 }')
    BUDGET="$(((peak_kb / 16 + 1023) / 1024))M"
    echo "bench: budget $BUDGET, a sixteenth of the unlimited run's peak ($((peak_kb / 1024)) MiB)"
  fi
  rows[budget]+="$(run_tool budget "$BUDGET")"$'\n'
  if [ "$round" = "$RUNS" ]; then
    grep -q "Spill: the requests exceed" "$OUT_DIR/budget/stdout" ||
      { echo "bench: the budget run did not spill" >&2; exit 1; }
    for f in $(cd "$OUT_DIR/unlimited/replay" && ls); do
      cmp -s "$OUT_DIR/unlimited/replay/$f" "$OUT_DIR/budget/replay/$f" ||
        { echo "bench: $f differs between the two runs" >&2; exit 1; }
    done
    echo "bench: the packages and error logs of the last round are the same"
  fi
  rm -rf "$OUT_DIR/unlimited" "$OUT_DIR/budget"
done

budget_kb=$(numfmt --from=iec "${BUDGET}" | awk '{ print $1 / 1024 }')
printf '\n%-10s %8s %8s %7s %7s %7s %7s %7s %9s %9s %9s %9s %7s\n' setting wall x_unlim \
  step1 step2 step3 step4 rest peak_MB budget_MB over_MB spill_MB B/req
unlimited_wall=$(printf '%s' "${rows[unlimited]}" | awk '{ print $1 }' | median)
for setting in unlimited budget; do
  col() { printf '%s' "${rows[$setting]}" | awk -v c="$1" '{ print $c }' | median; }
  wall=$(col 1)
  peak_kb=$(col 7)
  b_kb=$([ $setting = budget ] && echo "$budget_kb" || echo 0)
  printf '%-10s %8.2f %8.2f %7.2f %7.2f %7.2f %7.2f %7.2f %9.1f %9s %9s %9.1f %7.0f\n' "$setting" \
    "$wall" "$(calc "$wall / $unlimited_wall")" "$(col 2)" "$(col 3)" "$(col 4)" "$(col 5)" \
    "$(col 6)" "$(calc "$peak_kb / 1024")" \
    "$([ $setting = budget ] && printf '%.1f' "$(calc "$b_kb / 1024")" || echo -)" \
    "$([ $setting = budget ] && printf '%.1f' "$(calc "($peak_kb - $b_kb) / 1024")" || echo -)" \
    "$(calc "$(col 8) / 1048576")" "$(calc "$peak_kb * 1024 / $REQUESTS")"
done
