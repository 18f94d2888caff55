#!/bin/bash
# vt_package's command line: help on standard output with status 0, wrong use
# on standard error with status 2, an unreadable package with status 1.
#
#   cli.sh VT_PACKAGE
set -u
P=$1
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_package_cli.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failed=0

# expect STATUS STDOUT_PATTERN STDERR_PATTERN ARGS...: "" means empty output.
expect() {
  local status=$1 out_pattern=$2 err_pattern=$3
  shift 3
  "$P" "$@" >"$WORK/out" 2>"$WORK/err"
  local got=$?
  local ok=1
  [ "$got" = "$status" ] || ok=0
  if [ -z "$out_pattern" ]; then [ ! -s "$WORK/out" ] || ok=0; else grep -q -- "$out_pattern" "$WORK/out" || ok=0; fi
  if [ -z "$err_pattern" ]; then [ ! -s "$WORK/err" ] || ok=0; else grep -q -- "$err_pattern" "$WORK/err" || ok=0; fi
  if [ $ok = 0 ]; then
    echo "FAIL: vt_package $* -> status $got (wanted $status)"
    echo "  stdout: $(head -c 300 "$WORK/out")"
    echo "  stderr: $(head -c 300 "$WORK/err")"
    failed=1
  fi
}

expect 0 '^usage: vt_package <command>' '' --help
expect 0 '^usage: vt_package check DIR' '' check --help
expect 0 '^usage: vt_package profile DIR' '' profile --help
expect 0 '^usage: vt_package plot DIR -o FILE.html' '' plot --help
expect 0 '^usage: vt_package preview -i CONFIG' '' preview --help
expect 0 '^usage: vt_package profile DIR' '' profile somewhere --json --help
expect 0 '^vt_package [0-9]' '' --version
expect 2 '' '^usage: vt_package <command>'
expect 2 '' 'unknown command: frob$' frob
expect 2 '' 'unknown command: chek (did you mean check?)' chek
expect 2 '' 'unknown command: prevue (did you mean preview?)' prevue
expect 2 '' 'a replay directory is needed' profile
expect 2 '' '--bucket takes whole seconds' profile "$WORK" --bucket 0
expect 2 '' '--bucket takes whole seconds' profile "$WORK" --bucket 1.5
expect 2 '' '--bucket needs' profile "$WORK" --bucket
expect 2 '' 'unknown option: --frob' profile --frob "$WORK"
expect 2 '' 'one directory only' profile a b
expect 2 '' 'plot needs -o FILE.html' plot "$WORK"
expect 2 '' 'check needs a replay directory' check
expect 2 '' 'one directory only' check a b
expect 2 '' 'preview needs -i CONFIG' preview
expect 2 '' '-i needs a configuration file' preview -i
expect 2 '' 'unknown argument: x' preview -i c x
expect 1 '' 'vt_package profile: /nonexistent: No such file or directory' profile /nonexistent
expect 1 '' 'vt_package plot: /nonexistent: No such file or directory' plot /nonexistent -o "$WORK/p.html"
expect 1 '' "vt_package profile: $WORK holds no vt_index_0" profile "$WORK"
expect 1 '' 'vt_package profile: /etc/passwd: Not a directory' profile /etc/passwd
expect 1 '/nonexistent: no vt_index_0' '' check /nonexistent
[ ! -e "$WORK/p.html" ] || { echo "FAIL: plot left a file behind"; failed=1; }

# An existing file is never overwritten, nor a symbolic link followed.
mkdir "$WORK/pkg"
printf '#header\n' >"$WORK/pkg/vt_index_0"
: >"$WORK/pkg/vt_req_0"
echo keep >"$WORK/existing.html"
expect 1 '' 'cannot create .*existing.html: File exists' plot "$WORK/pkg" -o "$WORK/existing.html"
[ "$(cat "$WORK/existing.html")" = keep ] || { echo "FAIL: plot overwrote a file"; failed=1; }
ln -s "$WORK/target.html" "$WORK/link.html"
expect 1 '' 'cannot create .*link.html' plot "$WORK/pkg" -o "$WORK/link.html"
[ ! -e "$WORK/target.html" ] || { echo "FAIL: plot followed a link"; failed=1; }
expect 0 '^plot: .*empty.html written (0 requests of 1 workers)' '' plot "$WORK/pkg" -o "$WORK/empty.html"

# --force replaces a file (and a link, without following it); -o - writes the
# page to standard output and nothing else there.
expect 0 '^plot: .*existing.html written' '' plot "$WORK/pkg" -o "$WORK/existing.html" --force
grep -q '^<!DOCTYPE html>' "$WORK/existing.html" || { echo "FAIL: --force did not replace"; failed=1; }
expect 0 '^plot: .*link.html written' '' plot "$WORK/pkg" --force -o "$WORK/link.html"
[ -f "$WORK/link.html" ] && [ ! -L "$WORK/link.html" ] && [ ! -e "$WORK/target.html" ] ||
  { echo "FAIL: --force followed a link or left it"; failed=1; }
expect 0 '^<!DOCTYPE html>' '' plot "$WORK/pkg" -o -
tail -c 8 "$WORK/out" | grep -q '</html>' || { echo "FAIL: -o - wrote more than the page"; failed=1; }
ls "$WORK" | grep -q '\.new-' && { echo "FAIL: --force left its new file behind"; failed=1; }

[ $failed = 0 ] && echo "cli: all cases pass"
exit $failed
