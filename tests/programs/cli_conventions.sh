#!/bin/bash
# vt_loggen and vt_package_check follow the usual conventions: --help and
# --version on standard output with status 0, usage errors on standard error
# with status 2, and the checker never takes an option for a directory.
#
#   cli_conventions.sh VT_LOGGEN VT_PACKAGE_CHECK
set -u
LOGGEN=$(realpath "$1")
CHECK=$(realpath "$2")
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_cli.XXXXXX")
trap 'rm -rf "$T"' EXIT
failures=0

# expect STATUS STDOUT_PATTERN STDERR_PATTERN COMMAND...: the patterns are
# grep -E patterns the whole stream must match somewhere ('^$' = empty).
expect() {
  local want=$1 out_re=$2 err_re=$3
  shift 3
  "$@" >"$T/out" 2>"$T/err"
  local got=$?
  local what="${*##*/}"
  [ $got -eq "$want" ] || { echo "cli: '$what' exited $got, not $want"; failures=$((failures + 1)); }
  if [ "$out_re" = '^$' ]; then
    [ ! -s "$T/out" ] || { echo "cli: '$what' wrote to stdout: $(head -c 200 "$T/out")"; failures=$((failures + 1)); }
  else
    grep -qE "$out_re" "$T/out" || { echo "cli: '$what' stdout lacks /$out_re/"; failures=$((failures + 1)); }
  fi
  if [ "$err_re" = '^$' ]; then
    [ ! -s "$T/err" ] || { echo "cli: '$what' wrote to stderr: $(head -c 200 "$T/err")"; failures=$((failures + 1)); }
  else
    grep -qE "$err_re" "$T/err" || { echo "cli: '$what' stderr lacks /$err_re/"; failures=$((failures + 1)); }
  fi
}

expect 0 '^Usage: .* --out DIR' '^$' "$LOGGEN" --help
expect 0 '^Usage: ' '^$' "$LOGGEN" --out "$T/never" --help
expect 0 '^vt_loggen [0-9]+\.[0-9]+\.[0-9]+$' '^$' "$LOGGEN" --version
expect 2 '^$' '^vt_loggen: unknown option --bogus' "$LOGGEN" --bogus
expect 2 '^$' '^vt_loggen: --out is required' "$LOGGEN"
expect 2 '^$' '^vt_loggen: --requests 0: expected a whole number' "$LOGGEN" --out "$T/x" --requests 0
expect 2 '^$' '^vt_loggen: unexpected argument extra' "$LOGGEN" --out "$T/x" extra
[ ! -e "$T/never" ] && [ ! -e "$T/x" ] || { echo "cli: vt_loggen wrote a tree on a usage error or --help"; failures=$((failures + 1)); }

expect 0 '^Usage: .*REPLAY_DIR' '^$' "$CHECK" --help
expect 0 '^vt_package_check [0-9]+\.[0-9]+\.[0-9]+$' '^$' "$CHECK" --version
expect 2 '^$' '^vt_package_check: no replay directory given' "$CHECK"
expect 2 '^$' '^vt_package_check: unknown option -x' "$CHECK" -x
expect 2 '^$' '^vt_package_check: more than one replay directory' "$CHECK" "$T" "$T"
# A directory whose name begins with a dash, after --: read, not refused.
mkdir -p "$T/-odd"
expect 1 '0 workers.*1 problems' 'no vt_index_0' "$CHECK" -- "$T/-odd"
expect 1 '0 workers' '^-odd holds no vt_index_0' env -C "$T" "$CHECK" -- -odd

[ $failures -eq 0 ] && echo "cli: vt_loggen and vt_package_check follow the conventions"
exit $((failures > 0))
