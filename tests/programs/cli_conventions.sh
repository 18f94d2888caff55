#!/bin/bash
# cli_conventions.sh VTU_REPLAY_GEN VT_LOGGEN VT_PACKAGE_CHECK VT_PACKAGE VT_REPLAY VT_SINK: -h, -v, usage.
set -u
TOOL=$1
shift
. "$(dirname "$0")/../test_lib.sh" cli

# expect STATUS STDOUT_RE STDERR_RE COMMAND...: each stream matches its pattern ('^$': empty).
expect() {
  local want=$1 out_re=$2 err_re=$3 s re
  shift 3
  "$@" >"$T/out" 2>"$T/err"
  local got=$?
  [ $got -eq "$want" ] || fail "'${*##*/}' exited $got, not $want"
  for s in out err; do
    [ $s = out ] && re=$out_re || re=$err_re
    if [ "$re" = '^$' ]; then [ ! -s "$T/$s" ]; else grep -qE -- "$re" "$T/$s"; fi ||
      fail "'${*##*/}' std$s lacks /$re/: $(head -c 200 "$T/$s")"
  done
}

for program in "$@"; do
  name=$(basename "$program")
  expect 0 '^[Uu]sage: ' '^$' "$program" --help
  expect 0 "^$name [0-9]+\.[0-9]+\.[0-9]+\$" '^$' "$program" --version
  expect 2 '^$' "^$name: unknown (option|command):? --bogus" "$program" --bogus
done
expect 0 '^Usage: ' '^$' "$1" --out "$T/never" --help
expect 2 '^$' '^vt_loggen: --out is required' "$1"
expect 2 '^$' '^vt_loggen: unexpected argument extra' "$1" --out "$T/x" extra
[ ! -e "$T/never" ] && [ ! -e "$T/x" ] || fail "vt_loggen wrote a tree on a usage error or --help"

expect 0 '^Usage: .* -i <ConfigFile> ' '^$' "$TOOL" -d 2 --help
expect 0 '^vtu_replay_gen [0-9]+\.[0-9]+\.[0-9]+$' '^$' "$TOOL" --version
expect 255 'Starting replay' '^open_file:Unable to open file --help$' "$TOOL" -i --help

finish "vtu_replay_gen and the companion programs follow the conventions"
