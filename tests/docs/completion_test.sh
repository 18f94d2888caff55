#!/bin/bash
# The bash completion of every program: options, vt_package's commands and
# each command's options (all those its --help names), and file or
# directory names where an option or argument takes one.
#
#   completion_test.sh COMPLETION_FILE VTU_REPLAY_GEN VT_PACKAGE VT_PACKAGE_CHECK VT_LOGGEN VT_REPLAY VT_SINK
set -u
COMPLETION=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_completion.XXXXXX")
trap 'rm -rf "$T"' EXIT
mkdir -p "$T/bin" "$T/work/logs dir/sub" "$T/work/replay"
names=(vtu_replay_gen vt_package vt_package_check vt_loggen vt_replay vt_sink)
for i in 0 1 2 3 4 5; do
  arg=$((i + 2))
  ln -s "$(cd "$(dirname "${!arg}")" && pwd)/$(basename "${!arg}")" "$T/bin/${names[$i]}"
done
touch "$T/work/replay.conf" "$T/work/report.json" "$T/work/plot.html"
export PATH=$T/bin:$PATH
cd "$T/work" || exit 1
# shellcheck source=/dev/null
source "$COMPLETION"
failures=0

# completions LINE: what completing the last word of LINE offers, one a line,
# sorted ("LINE " ending in a blank completes an empty word).
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
  local line=$1
  shift
  local got want
  got=$(completions "$line" | paste -sd' ' -)
  want=$(printf '%s\n' "$@" | sort | paste -sd' ' -)
  if [ "$got" != "$want" ]; then
    echo "completion_test: '$line' offers '$got', not '$want'"
    failures=$((failures + 1))
  fi
}

for p in "${names[@]}"; do
  complete -p "$p" >/dev/null 2>&1 || { echo "completion_test: nothing completes $p"; failures=$((failures + 1)); }
done

expect 'vtu_replay_gen -' -N -c -d -f -i -n -p -u
expect 'vtu_replay_gen -i ' 'logs dir' plot.html replay replay.conf report.json
expect 'vtu_replay_gen -i rep' replay replay.conf report.json
expect 'vtu_replay_gen -f -d ' 0 1 2 3 4
expect 'vt_package ' --help --version check plot preview profile
expect 'vt_package pr' preview profile
expect 'vt_package check ' 'logs dir' replay
expect 'vt_package plot replay -o ' - 'logs dir' plot.html replay replay.conf report.json
expect 'vt_package plot replay --f' --force
expect 'vt_package preview -i re' replay replay.conf report.json
expect 'vt_package profile replay --bucket ' ''
expect 'vt_package_check ' 'logs dir' replay
expect 'vt_package_check --h' --help
expect 'vt_loggen --da' --day-span --days
expect 'vt_loggen --out ' 'logs dir' replay
expect 'vt_loggen --out=lo' 'logs dir'
expect 'vt_loggen --quiet --out l' 'logs dir'
expect 'vt_loggen --requests ' ''
expect 'vt_replay replay --json r' replay replay.conf report.json
expect 'vt_replay replay --wo' --workers
expect 'vt_replay replay --cacert r' replay replay.conf report.json
expect 'vt_replay replay --insecure --ho' --host
expect 'vt_replay replay --header ' ''
expect 'vt_replay replay --results r' replay replay.conf report.json
expect 'vt_replay replay --html=r' replay replay.conf report.json
expect 'vt_replay replay --st' --start-at
expect 'vt_replay replay --shard ' ''
expect 'vt_replay me' merge
expect 'vt_replay ' 'logs dir' merge replay
expect 'vt_replay merge r' replay replay.conf report.json
expect 'vt_replay merge report.json --' --help --html --json --mixed-packages
expect 'vt_package plot --results r' replay replay.conf report.json
expect 'vt_sink --port-file=r' replay replay.conf report.json
expect 'vt_sink --background --st' --status

# Every option that a program's --help (or a vt_package command's) names is
# offered, so that the completion cannot fall behind the programs.
for p in vt_package_check vt_loggen vt_replay vt_sink; do
  for o in $("$p" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    completions "$p --" | grep -qx -- "$o" || {
      echo "completion_test: $p -- does not offer $o"
      failures=$((failures + 1))
    }
  done
done
for c in check profile plot preview; do
  for o in $(vt_package "$c" --help | grep -oE -- '(^|[ [])--?[a-z][a-z-]*' | tr -d ' [' | sort -u); do
    completions "vt_package $c x -" | grep -qx -- "$o" || {
      echo "completion_test: vt_package $c does not offer $o"
      failures=$((failures + 1))
    }
  done
done

[ $failures -eq 0 ] && echo "completion_test: every program completes its options, commands and file names"
exit $((failures > 0))
