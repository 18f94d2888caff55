#!/bin/bash
# run_failures_test.sh README TOOL SUITE_BIN LOGGEN: each failure of the README's "When a run
# fails" table is made to happen; each message there (`<...>`: any text) must be a line printed.
set -u
README=$1
TOOL=$2
SUITE_BIN=$3
LOGGEN=$4
. "$(dirname "$0")/../test_lib.sh" run_failures_test
trap 'rm -rf "$T"; [ -n "${holder:-}" ] && kill "$holder" 2>/dev/null' EXIT

"$LOGGEN" --out "$T/logs" --requests 40 --quiet >/dev/null || { fail "vt_loggen failed"; exit 1; }
mkdir -p "$T/empty/20261201/extracts"

# conf NAME [LINES...]: $T/NAME/replay.conf with its own replay directory, then LINES.
conf() {
  local dir=$T/$1
  shift
  mkdir -p "$dir"
  printf '%s\n' "INPUT_DIR|$T/logs" "REPLAY_DIR|$dir/replay" "SCRIPT_NAME|first/try/script" \
    "SCENARIO_NAME|first/try/first.conf" "NUM_VVM|2" "$@" >"$dir/replay.conf"
}
# run NAME [ENV...] -- [ARGS...]: the tool in $T/NAME (conf NAME first if it has none) with the
# stand-ins, both streams to $T/all.
run() {
  local name=$1 env=()
  shift
  [ -d "$T/$name" ] || conf "$name"
  while [ $# -gt 0 ] && [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  (cd "$T/$name" && PATH=$SUITE_BIN:$PATH env "${env[@]}" "$TOOL" "$@") >>"$T/all" 2>&1
}

conf rerun && mkdir -p "$T/rerun/wdir/scenarios/first/try"
run rerun VT_WDIR="$T/rerun/wdir" -- -i replay.conf
run rerun VT_WDIR="$T/rerun/wdir" -- -i replay.conf
# Only the replay directory removed (the scenario stays), then the scenario too (the script stays).
rm -rf "$T/rerun/replay"
run rerun VT_WDIR="$T/rerun/wdir" -- -i replay.conf
rm -rf "$T/rerun/replay" "$T/rerun/wdir/scenarios/first/try/first.conf"
run rerun VT_WDIR="$T/rerun/wdir" -- -i replay.conf

run no_wdir -u VT_WDIR -- -i replay.conf
run no_scenario_dir VT_WDIR="$T/no_scenario_dir/wdir" -- -i replay.conf
run no_suite PATH=/usr/bin:/bin -- -i replay.conf
run no_config -- -i nosuch.conf
run no_config --
conf no_script && sed -i '/^SCRIPT_NAME/d' "$T/no_script/replay.conf"
run no_script -- -i replay.conf
conf no_base && sed -i "s#^INPUT_DIR|.*#INPUT_DIR|$T/nosuch#" "$T/no_base/replay.conf"
run no_base -- -i replay.conf
conf no_files && sed -i "s#^INPUT_DIR|.*#INPUT_DIR|$T/empty#" "$T/no_files/replay.conf"
run no_files -- -i replay.conf
conf no_valid "REPLAY_PERIOD|01/01/2020 00:00:00|01/02/2020 00:00:00"
run no_valid -- -i replay.conf
conf d0 && sed -i "s#^INPUT_DIR|.*#INPUT_DIR|$T/empty#" "$T/d0/replay.conf"
run d0 -- -i replay.conf -d 0

# Another run's lock on the replay directory: flock(1), then the sleep whose end frees it.
conf locked && mkdir "$T/locked/replay"
(exec 9<"$T/locked/replay" && flock 9 && exec sleep 30) >/dev/null 2>&1 &
holder=$!
for _ in $(seq 50); do
  grep -q "$(stat -c %i "$T/locked/replay")" /proc/locks 2>/dev/null && break
  sleep 0.1
done
run locked -- -i replay.conf -f
kill "$holder" 2>/dev/null
holder=

# The table's messages: the first cell of each row, in backticks.
mapfile -t messages < <(awk '/^## / { on = ($0 == "## When a run fails") } on' "$README" |
  grep -E '^\| `' | sed -E 's/^\| `([^`]*)`.*/\1/')
[ ${#messages[@]} -ge 10 ] || fail "the README's table has only ${#messages[@]} messages"
for m in "${messages[@]}"; do
  re=$(printf '%s' "$m" | sed -e 's#[][\.*^$+?(){}|]#\\&#g' -e 's#<[^>]*>#.*#g')
  grep -qE "^$re" "$T/all" || fail "the tool never printed: $m"
done

finish "the tool prints all ${#messages[@]} messages of the README's table"
