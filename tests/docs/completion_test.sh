#!/bin/bash
# completion_test.sh COMPLETION_FILE VTU_REPLAY_GEN VT_PACKAGE VT_PACKAGE_CHECK VT_LOGGEN VT_REPLAY VT_SINK
# Every program's options, vt_package's commands and theirs, and file names where one is taken.
set -u
COMPLETION=$(realpath "$1")
. "$(dirname "$0")/../test_lib.sh" completion_test
mkdir -p "$T/bin" "$T/work/logs dir/sub" "$T/work/replay"
for p in "${@:2}"; do ln -s "$(realpath "$p")" "$T/bin/"; done
touch "$T/work/replay.conf" "$T/work/report.json" "$T/work/plot.html"
export PATH=$T/bin:$PATH
cd "$T/work" || exit 1
# shellcheck source=/dev/null
source "$COMPLETION"

# completions LINE: what completing LINE's last word (empty after a blank) offers, sorted.
completions() {
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$1
  COMP_POINT=${#1}
  COMPREPLY=()
  local fn
  fn=$(complete -p "${COMP_WORDS[0]}" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
  "$fn" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

# expect LINE WORDS...: completing LINE offers exactly WORDS.
expect() {
  local line=$1 got want
  shift
  got=$(completions "$line" | paste -sd' ' -)
  want=$(printf '%s\n' "$@" | sort | paste -sd' ' -)
  [ "$got" = "$want" ] || fail "'$line' offers '$got', not '$want'"
}

expect 'vtu_replay_gen -' -N -c -d -f -i -n -p -u
expect 'vtu_replay_gen -i ' 'logs dir' plot.html replay replay.conf report.json
expect 'vtu_replay_gen -f -d ' 0 1 2 3 4
expect 'vt_package ' --help --version check plot preview profile
expect 'vt_package pr' preview profile
expect 'vt_package plot replay -o ' - 'logs dir' plot.html replay replay.conf report.json
expect 'vt_loggen --da' --day-span --days
expect 'vt_loggen --out=lo' 'logs dir'
expect 'vt_replay replay --insecure --ho' --host
expect 'vt_replay me' merge
expect 'vt_replay ' 'logs dir' merge replay
expect 'vt_replay merge report.json --' --help --html --json --mixed-packages
expect 'vt_sink --background --st' --status
# Files where a file is taken (also after "="), directories where one is, nothing for a value.
for line in 'vtu_replay_gen -i rep' 'vt_package preview -i re' 'vt_replay replay --json r' \
  'vt_replay replay --cacert r' 'vt_replay replay --results r' 'vt_replay replay --html=r' \
  'vt_replay merge r' 'vt_package plot --results r' 'vt_sink --port-file=r'; do
  expect "$line" replay replay.conf report.json
done
for line in 'vt_package check ' 'vt_package_check ' 'vt_loggen --out ' 'vt_loggen --quiet --out '; do
  expect "$line" 'logs dir' replay
done
for line in 'vt_package profile replay --bucket ' 'vt_loggen --requests ' 'vt_replay replay --header ' \
  'vt_replay replay --shard '; do
  expect "$line" ''
done

# Every option a --help names is offered.
for p in vt_package_check vt_loggen vt_replay vt_sink "vt_package check" "vt_package profile" \
  "vt_package plot" "vt_package preview"; do
  for o in $($p --help | grep -oE -- '(^|[ [])--?[a-z][a-z-]*' | tr -d ' [' | sort -u); do
    completions "$p x -" | grep -qx -- "$o" || fail "$p does not offer $o"
  done
done

finish "every program completes its options, commands and file names"
