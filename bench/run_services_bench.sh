#!/bin/bash
# Cost per service of vtu_replay_gen: trees of 1,000, 10,000 and 32,000
# services (32,767 is the table's limit), each service with 1 and with 30
# requests, in SOAP mode and in URL mode (-u).
#
#   bench/run_services_bench.sh [RUNS]          (default: 3 runs)
#   BASE_BUILD=build/orig bench/run_services_bench.sh
#
# Every service has a SOAP action and a URL path of its own, so that both
# modes see the same number of services. Rounds run every tree and mode in
# turn; it prints the median wall time of each, the time per service and its
# ratio to the 1,000-service tree of the same mode and requests per service.
# With BASE_BUILD (a build directory of another version, say the commit before
# a change, built with its suite commands), that version runs in the same
# rounds, interleaved, and the last column is its time over this version's.
# Figures are only comparable within one run of this script.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
RUNS=${1:-3}
BENCH_DIR=${BENCH_DIR:-$ROOT/build/bench_services}
BASE_BUILD=${BASE_BUILD:-}
LOGGEN=$ROOT/build/release/tools/loggen/vt_loggen

scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j 2 --target vtu_replay_gen vt_loggen vtu_gen_cscript vtu_gen_script \
  vti_get_page vtu_change_page_name >/dev/null

versions=(new)
declare -A build_of=([new]=$ROOT/build/release)
if [ -n "$BASE_BUILD" ]; then
  BASE_BUILD=$(cd "$BASE_BUILD" && pwd)
  [ -x "$BASE_BUILD/tools/replay_gen/vtu_replay_gen" ] && [ -d "$BASE_BUILD/suite_bin" ] || {
    echo "bench: no vtu_replay_gen and suite_bin in $BASE_BUILD" >&2
    exit 1
  }
  versions=(base new)
  build_of[base]=$BASE_BUILD
fi

SERVICES=(1000 10000 32000)
PER_SERVICE=(1 30)
MODES=(soap url)

# Small bodies: the tree's size is not what is measured here.
tree_of() { echo "$BENCH_DIR/logs_${1}x$2"; }
for s in "${SERVICES[@]}"; do
  for r in "${PER_SERVICE[@]}"; do
    logs=$(tree_of "$s" "$r")
    [ -f "$logs.summary" ] && continue
    rm -rf "$logs"
    mkdir -p "$BENCH_DIR"
    echo "bench: generating $s services with $r requests each"
    "$LOGGEN" --out "$logs" --days 1 --files-per-day 4 --requests $((s * r)) \
      --customers $((s * r / 20 + 1)) --services "$s" --url-per-service --services-in-turn \
      --bad-share 0 --min-body 200 --max-body 400 --large-share 0 --seed 1 --quiet \
      >"$logs.summary.tmp"
    mv "$logs.summary.tmp" "$logs.summary"
  done
done

calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One run; prints the wall time. Checks the accepted count and the pages.
run_tool() {
  local version=$1 services=$2 per=$3 mode=$4 dir=$BENCH_DIR/run build=${build_of[$1]}
  rm -rf "$dir"
  mkdir -p "$dir/wdir/scenarios/bench/replay"
  cat >"$dir/replay.conf" <<EOF
INPUT_DIR|$(tree_of "$services" "$per")
REPLAY_DIR|$dir/replay
SCRIPT_NAME|bench/replay/script
SCENARIO_NAME|bench/replay/bench.conf
NUM_VVM|4
EOF
  local args=(-i "$dir/replay.conf")
  [ "$mode" = url ] && args+=(-u)
  local start=$EPOCHREALTIME
  VT_WDIR=$dir/wdir PATH=$build/suite_bin:$PATH \
    "$build/tools/replay_gen/vtu_replay_gen" "${args[@]}" >"$dir/stdout" 2>"$dir/stderr" || true
  local end=$EPOCHREALTIME
  local valid pages
  valid=$(sed -n 's/.*Valid request = \([0-9,]*\).*/\1/p' "$dir/stdout" | tr -d ,)
  pages=$(wc -l <"$dir/wdir/scripts/bench/replay/script/script.pages" 2>/dev/null || echo 0)
  if ! grep -q "Processing done" "$dir/stdout" || [ "$valid" != $((services * per)) ] ||
    [ "$pages" != "$services" ]; then
    echo "bench: $version $mode $services x $per failed ($valid requests, $pages pages); see $dir" >&2
    exit 1
  fi
  calc "$end - $start"
}

declare -A times
for round in $(seq "$RUNS"); do
  echo "bench: round $round of $RUNS"
  for s in "${SERVICES[@]}"; do
    for r in "${PER_SERVICE[@]}"; do
      for mode in "${MODES[@]}"; do
        for v in "${versions[@]}"; do
          times[$v.$mode.$s.$r]+="$(run_tool "$v" "$s" "$r" "$mode") "
        done
      done
    done
  done
done
rm -rf "$BENCH_DIR/run"

wall() { printf '%s\n' ${times[$1]} | median; }
printf '\n%-5s %8s %8s %-8s %8s %9s %9s' mode services req/svc version wall us/svc x_1000
[ -n "$BASE_BUILD" ] && printf ' %9s' base/new
printf '\n'
for mode in "${MODES[@]}"; do
  for r in "${PER_SERVICE[@]}"; do
    for s in "${SERVICES[@]}"; do
      for v in "${versions[@]}"; do
        w=$(wall "$v.$mode.$s.$r")
        w1=$(wall "$v.$mode.1000.$r")
        printf '%-5s %8d %8d %-8s %8.3f %9.1f %9.2f' "$mode" "$s" "$r" "$v" "$w" \
          "$(calc "$w / $s * 1000000")" "$(calc "($w / $s) / ($w1 / 1000)")"
        [ -n "$BASE_BUILD" ] && printf ' %9.2f' "$(calc "$(wall "base.$mode.$s.$r") / $(wall "new.$mode.$s.$r")")"
        printf '\n'
      done
    done
  done
done
