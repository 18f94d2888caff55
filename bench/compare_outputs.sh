#!/bin/bash
# Compares the files of two vtu_replay_gen binaries on one log tree.
#
#   bench/compare_outputs.sh OLD NEW LOGS [NUM_VVM...]    (default NUM_VVM: 1 3 4 7)
#
# For each NUM_VVM and each -n in COMPARE_THREADS (default 1), runs OLD and
# then NEW with the replay directory at the same path (under /dev/shm), and
# compares every file they write (request, index and error files, scenario,
# script) with cmp. With more than one loader thread, which thread claims
# which file decides which error log gets a record's line, and its number
# there; such error logs are compared as the sorted lines of all of them,
# without the numbers. Prints one line per
# setting and the number of differences; exit status 1 if there are any.
set -uo pipefail
[ $# -ge 3 ] || { echo "usage: $0 OLD NEW LOGS [NUM_VVM...]" >&2; exit 2; }
OLD=$(realpath "$1") NEW=$(realpath "$2") LOGS=$(realpath "$3")
shift 3
VVMS=("$@")
[ ${#VVMS[@]} -gt 0 ] || VVMS=(1 3 4 7)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
D=/dev/shm/vt_compare.$$
trap 'rm -rf "$D" "$D.old" "$D.stdout" "$D.stderr"' EXIT

# One run of binary $1 with NUM_VVM $2 and -n $3 into $D.
run_one() {
  rm -rf "$D"
  mkdir -p "$D/wdir/scenarios/cmp/replay"
  printf '%s\n' "INPUT_DIR|$LOGS" "REPLAY_DIR|$D/replay" "SCRIPT_NAME|cmp/replay/script" \
    "SCENARIO_NAME|cmp/replay/cmp.conf" "NUM_VVM|$2" >"$D/replay.conf"
  VT_WDIR=$D/wdir PATH=$ROOT/build/release/suite_bin:$PATH \
    "$1" -i "$D/replay.conf" -n "$3" >"$D.stdout" 2>"$D.stderr"
  echo $?
}

differences=0
for vvm in "${VVMS[@]}"; do
  for n in ${COMPARE_THREADS:-1}; do
    status_old=$(run_one "$OLD" "$vvm" "$n")
    rm -rf "$D.old"
    mv "$D" "$D.old"
    status_new=$(run_one "$NEW" "$vvm" "$n")
    note=""
    if [ "$status_old" != "$status_new" ]; then
      echo "NUM_VVM $vvm -n $n: exit status $status_old, now $status_new"
      differences=$((differences + 1))
    fi
    old_files=$(cd "$D.old" && find . -type f | sort)
    if [ "$old_files" != "$(cd "$D" && find . -type f | sort)" ]; then
      echo "NUM_VVM $vvm -n $n: the two runs wrote different files"
      differences=$((differences + 1))
    fi
    count=0 bytes=0 split=0
    for f in $old_files; do
      count=$((count + 1))
      bytes=$((bytes + $(stat -c %s "$D.old/$f")))
      cmp -s "$D.old/$f" "$D/$f" && continue
      case $f in
        */error.log.*) split=1 ;;
        *) echo "NUM_VVM $vvm -n $n: $f differs"; differences=$((differences + 1)) ;;
      esac
    done
    if [ $split = 1 ]; then
      # A line's first field counts the errors of the thread that wrote it.
      if cmp -s <(cat "$D.old"/replay/error.log.* | cut -d'|' -f2- | sort) \
        <(cat "$D"/replay/error.log.* | cut -d'|' -f2- | sort); then
        note=", error lines split differently between loader threads"
      else
        echo "NUM_VVM $vvm -n $n: the error logs differ"
        differences=$((differences + 1))
      fi
    fi
    echo "NUM_VVM $vvm -n $n: $count files, $bytes bytes compared (status $status_new$note)"
  done
done
echo "differences: $differences"
[ $differences = 0 ]
