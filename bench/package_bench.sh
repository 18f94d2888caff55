#!/bin/bash
# Benchmark of vt_package on the package of a synthetic log tree.
#
#   bench/package_bench.sh [REQUESTS] [RUNS]   (defaults: 1000000 requests, 3 runs)
#
# Uses the log tree of bench/run_bench.sh (generated when missing, under
# BENCH_DIR, default build/bench). Each round makes the package with
# vtu_replay_gen (NUM_VVM 4), then times, one after another:
#   index     - every index file read once and its lines counted (wc -l), the
#               least any reader of the index needs: the baseline of profile
#               and plot;
#   profile   - vt_package profile, and profile --json;
#   plot      - vt_package plot;
#   preview   - vt_package preview on the same configuration, against the
#               tool's Steps 2 and 3 of the same round (its own step lines).
# It prints medians of wall time, the ratio to the baseline, and peak resident
# memory. Figures are only comparable within one run of this script.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
REQUESTS=${1:-1000000}
RUNS=${2:-3}
BENCH_DIR=${BENCH_DIR:-$ROOT/build/bench}
TOOL=$ROOT/build/release/tools/replay_gen/vtu_replay_gen
LOGGEN=$ROOT/build/release/tools/loggen/vt_loggen
PACKAGE=$ROOT/build/release/tools/package/vt_package

scripts/setup.sh
command -v /usr/bin/time >/dev/null || { apt-get update -qq && apt-get install -y -qq time >/dev/null; }
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j 2 --target vtu_replay_gen vt_loggen vt_package vtu_gen_cscript \
  vtu_gen_script vti_get_page vtu_change_page_name >/dev/null

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

calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
DIR=$BENCH_DIR/package
export VT_WDIR=$DIR/wdir PATH=$ROOT/build/release/suite_bin:$PATH

# timed NAME COMMAND...: appends "wall peak_kb" of one run to $DIR/NAME.times.
timed() {
  local name=$1 start end
  shift
  start=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o "$DIR/rss" "$@" >"$DIR/$name.out"
  end=$EPOCHREALTIME
  echo "$(calc "$end - $start") $(cat "$DIR/rss")" >>"$DIR/$name.times"
}

rm -rf "$DIR"
mkdir -p "$DIR"
for round in $(seq "$RUNS"); do
  rm -rf "$DIR/replay" "$DIR/wdir" "$DIR/plot.html"
  mkdir -p "$DIR/wdir/scenarios/bench/replay"
  cat >"$DIR/replay.conf" <<CONF
INPUT_DIR|$LOGS
REPLAY_DIR|$DIR/replay
SCRIPT_NAME|bench/replay/script
SCENARIO_NAME|bench/replay/bench.conf
NUM_VVM|4
CONF
  timed preview "$PACKAGE" preview -i "$DIR/replay.conf"
  stdbuf -oL "$TOOL" -i "$DIR/replay.conf" |
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$DIR/tool.out"
  grep -q "Processing done" "$DIR/tool.out" || { echo "bench: the tool failed; see $DIR" >&2; exit 1; }
  awk 'index($0, "Starting Step2") { s = $1 } index($0, "Completed Step3") { e = $1 }
       END { printf "%.3f\n", e - s }' "$DIR/tool.out" >>"$DIR/steps23.times"
  sync
  timed index wc -l "$DIR"/replay/vt_index_*
  timed profile "$PACKAGE" profile "$DIR/replay"
  timed profile_json "$PACKAGE" profile "$DIR/replay" --json
  timed plot "$PACKAGE" plot "$DIR/replay" -o "$DIR/plot.html"
done

# The figures of the dry run are those of the package.
sed -n '/the package the run would make in/,$p' "$DIR/preview.out" | sed '1d' | head -n -2 >"$DIR/a"
sed 1d "$DIR/profile.out" >"$DIR/b"
cmp -s "$DIR/a" "$DIR/b" || { echo "bench: preview and profile differ" >&2; exit 1; }

INDEX_MB=$(cat "$DIR"/replay/vt_index_* | wc -c | awk '{ printf "%.1f", $1 / 1000000 }')
USERS=$(grep -o '"users":[0-9]*' "$DIR/profile_json.out" | head -1 | cut -d: -f2)
BASE=$(awk '{ print $1 }' "$DIR/index.times" | median)
STEPS=$(median <"$DIR/steps23.times")
echo "bench: $REQUESTS requests, $USERS users, 4 workers, $INDEX_MB MB of index files; plot $(wc -c <"$DIR/plot.html") bytes"
printf '\n%-14s %8s %9s %9s\n' run wall x_base peak_MB
for name in index profile profile_json plot preview; do
  wall=$(awk '{ print $1 }' "$DIR/$name.times" | median)
  kb=$(awk '{ print $2 }' "$DIR/$name.times" | median)
  printf '%-14s %8.3f %9.2f %9.1f\n' "$name" "$wall" "$(calc "$wall / $BASE")" "$(calc "$kb / 1024")"
done
printf '\ntool Steps 2+3 %8.3f; preview / Steps 2+3 = %.2f\n' "$STEPS" \
  "$(calc "$(awk '{ print $1 }' "$DIR/preview.times" | median) / $STEPS")"
rm -rf "$DIR"
