#!/bin/bash
# The companion programs follow the usual conventions: --help and --version
# on standard output with status 0, a usage error on standard error naming
# the program with status 2; vt_loggen writes no tree on either.
#
#   cli_conventions.sh VT_LOGGEN VT_PACKAGE_CHECK VT_PACKAGE VT_REPLAY VT_SINK
set -u
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_cli.XXXXXX")
trap 'rm -rf "$T"' EXIT
failures=0

# expect STATUS STDOUT_PATTERN STDERR_PATTERN COMMAND...: each pattern (grep
# -E) must match its whole stream somewhere, '^$' only an empty one.
expect() {
  local want=$1 out_re=$2 err_re=$3 s re
  shift 3
  "$@" >"$T/out" 2>"$T/err"
  local got=$?
  [ $got -eq "$want" ] || { echo "cli: '${*##*/}' exited $got, not $want"; failures=$((failures + 1)); }
  for s in out err; do
    [ $s = out ] && re=$out_re || re=$err_re
    if [ "$re" = '^$' ]; then [ ! -s "$T/$s" ]; else grep -qE -- "$re" "$T/$s"; fi ||
      { echo "cli: '${*##*/}' std$s lacks /$re/: $(head -c 200 "$T/$s")"; failures=$((failures + 1)); }
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
[ ! -e "$T/never" ] && [ ! -e "$T/x" ] || { echo "cli: vt_loggen wrote a tree on a usage error or --help"; failures=$((failures + 1)); }

[ $failures -eq 0 ] && echo "cli: the companion programs follow the conventions"
exit $((failures > 0))
