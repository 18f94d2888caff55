#!/bin/bash
# Compares what two vtu_replay_gen binaries write on one log tree.
#
#   bench/compare_outputs.sh OLD NEW LOGS [NUM_VVM...]    (default NUM_VVM: 1 3 4 7)
#
# For each NUM_VVM, each -n in COMPARE_THREADS (default 1) and each budget in
# COMPARE_MEMORY_LIMIT (default "none": no MEMORY_LIMIT line; "8K 256K" spill),
# runs OLD and then NEW with the replay directory at the same path (under
# /dev/shm) and the options of COMPARE_ARGS (say "-d 2"), and compares every
# file they write (request, index and error files, manifest, scenario,
# script) with cmp, and their console (standard output and error) with
# dates, durations, the generator input's name, the spill directory's, the
# default budget (from the memory free at start) and the manifest's time of
# making masked. With more than one loader thread, which thread claims which
# file decides which error log gets a record's line, and its number there,
# and where a thread's lines fall on the console: such error logs are
# compared as the sorted lines of all of them without the numbers, and the
# console without the threads' own lines. The suite's stand-ins come from SUITE_BIN
# (default build/release/suite_bin). Prints one line per setting and the
# number of differences; exit status 1 if there are any.
set -uo pipefail
[ $# -ge 3 ] || { echo "usage: $0 OLD NEW LOGS [NUM_VVM...]" >&2; exit 2; }
OLD=$(realpath "$1") NEW=$(realpath "$2") LOGS=$(realpath "$3")
shift 3
VVMS=("$@")
[ ${#VVMS[@]} -gt 0 ] || VVMS=(1 3 4 7)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SUITE_BIN=${SUITE_BIN:-$ROOT/build/release/suite_bin}
read -ra ARGS <<<"${COMPARE_ARGS:-}"
D=/dev/shm/vt_compare.$$
trap 'rm -rf "$D" "$D.old"' EXIT

mask() {
  sed -E -e 's#[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}#<DATE>#g' \
    -e 's#[0-9,]+ minutes and [0-9,]+ seconds#<N>#g' -e 's#/tmp/filename_[0-9]+#<F>#g' \
    -e 's#"made_at": "[^"]*"#"made_at": "<DATE>"#' -e 's#vt_spill\.[A-Za-z0-9]{6}#vt_spill.<X>#g' \
    -e 's#^(memory_budget:Memory budget ).*#\1<BUDGET>#'
}

# A console without the loader threads' own lines and running totals, which
# follow which thread read which file.
thread_blind() {
  grep -v -e 'Processing Thread\[' -e '^    Total request processed = ' -e '^$' "$1"
}

# One run of binary $1 with NUM_VVM $2, -n $3 and budget $4 into $D.
run_one() {
  rm -rf "$D"
  mkdir -p "$D/wdir/scenarios/cmp/replay"
  printf '%s\n' "INPUT_DIR|$LOGS" "REPLAY_DIR|$D/replay" "SCRIPT_NAME|cmp/replay/script" \
    "SCENARIO_NAME|cmp/replay/cmp.conf" "NUM_VVM|$2" >"$D/replay.conf"
  [ "$4" = none ] || echo "MEMORY_LIMIT|$4" >>"$D/replay.conf"
  VT_WDIR=$D/wdir PATH=$SUITE_BIN:$PATH \
    "$1" -i "$D/replay.conf" -n "$3" "${ARGS[@]}" >"$D/stdout" 2>"$D/stderr"
  echo $? >"$D/status"
  for f in stdout stderr replay/vt_manifest.json; do
    [ -f "$D/$f" ] && mask <"$D/$f" >"$D/$f.masked" && mv "$D/$f.masked" "$D/$f"
  done
}

differences=0
for vvm in "${VVMS[@]}"; do
  for n in ${COMPARE_THREADS:-1}; do
    for limit in ${COMPARE_MEMORY_LIMIT:-none}; do
      setting="NUM_VVM $vvm -n $n MEMORY_LIMIT $limit${COMPARE_ARGS:+ $COMPARE_ARGS}"
      run_one "$OLD" "$vvm" "$n" "$limit"
      rm -rf "$D.old"
      mv "$D" "$D.old"
      run_one "$NEW" "$vvm" "$n" "$limit"
      note=""
      old_files=$(cd "$D.old" && find . -type f | sort)
      if [ "$old_files" != "$(cd "$D" && find . -type f | sort)" ]; then
        echo "$setting: the two runs wrote different files"
        differences=$((differences + 1))
      fi
      count=0 bytes=0 split=0
      for f in $old_files; do
        count=$((count + 1))
        bytes=$((bytes + $(stat -c %s "$D.old/$f")))
        cmp -s "$D.old/$f" "$D/$f" && continue
        case $n:$f in
          *:./replay/error.log.*) [ "$n" != 1 ] && split=1 && continue ;;
          [!1]:./stdout) cmp -s <(thread_blind "$D.old/$f") <(thread_blind "$D/$f") && continue ;;
        esac
        echo "$setting: $f differs"
        diff "$D.old/$f" "$D/$f" | head -5
        differences=$((differences + 1))
      done
      if [ $split = 1 ]; then
        # A line's first field counts the errors of the thread that wrote it.
        if cmp -s <(cat "$D.old"/replay/error.log.* | cut -d'|' -f2- | sort) \
          <(cat "$D"/replay/error.log.* | cut -d'|' -f2- | sort); then
          note=", error lines split differently between loader threads"
        else
          echo "$setting: the error logs differ"
          differences=$((differences + 1))
        fi
      fi
      spilled=$(grep -c '^  Spill: ' "$D/stdout")
      echo "$setting: $count files, $bytes bytes compared (status $(cat "$D/status"), $spilled spill lines$note)"
    done
  done
done
echo "differences: $differences"
[ $differences = 0 ]
