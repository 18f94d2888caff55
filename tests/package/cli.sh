#!/bin/bash
# vt_package's command line: help on standard output with status 0, wrong use
# on standard error with status 2, an unreadable package with status 1; and
# hostile packages (numbers above 2^64-1, a send time far out under a memory
# limit, files of another owner), which vt_package_check meets alike.
#
#   cli.sh VT_PACKAGE VT_PACKAGE_CHECK
set -u
P=$1
CHECK=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_package_cli.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failed=0

# expect STATUS STDOUT_PATTERN STDERR_PATTERN ARGS...: "" means empty output.
# The program is ${PROG[@]}, vt_package unless changed; it gets 20 s.
PROG=("$P")
expect() {
  local status=$1 out_pattern=$2 err_pattern=$3
  shift 3
  timeout 20 "${PROG[@]}" "$@" >"$WORK/out" 2>"$WORK/err"
  local got=$?
  local ok=1
  [ "$got" = "$status" ] || ok=0
  if [ -z "$out_pattern" ]; then [ ! -s "$WORK/out" ] || ok=0; else grep -q -- "$out_pattern" "$WORK/out" || ok=0; fi
  if [ -z "$err_pattern" ]; then [ ! -s "$WORK/err" ] || ok=0; else grep -q -- "$err_pattern" "$WORK/err" || ok=0; fi
  if [ $ok = 0 ]; then
    echo "FAIL: ${PROG[*]##*/} $* -> status $got (wanted $status)"
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
expect 2 '' '--bucket needs' profile "$WORK" --bucket
expect 2 '' 'unknown option: --frob' profile --frob "$WORK"
expect 2 '' 'one directory only' profile a b
expect 2 '' 'plot needs -o FILE.html' plot "$WORK"
expect 2 '' 'check needs a replay directory' check
expect 2 '' 'one directory only' check a b
expect 2 '' 'preview needs -i CONFIG' preview
expect 2 '' '-i needs a configuration file' preview -i
expect 2 '' 'unknown argument: x' preview -i c x
expect 2 '' '^vt_package preview: --bucket takes whole seconds from 1 to 31536000$' preview -i c --bucket 0
expect 2 '' '^vt_package preview: --bucket takes whole seconds' preview -i c --bucket
PROG=("$CHECK")
expect 0 '^Usage: .*vt_package_check \[--\] REPLAY_DIR' '' --help
expect 0 '^vt_package_check [0-9]' '' --version
expect 2 '' '^vt_package_check: no replay directory given'
expect 2 '' '^vt_package_check: unknown option --frob' --frob "$WORK"
expect 2 '' '^vt_package_check: more than one replay directory: b' a b
expect 1 ' 1 problems$' '^-x: no vt_index_0' -- -x
PROG=("$P")
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
# A directory in the way is left as it is, and the new file beside it removed.
mkdir "$WORK/dir.html"
expect 1 '' 'cannot replace .*dir.html: Is a directory$' plot "$WORK/pkg" --force -o "$WORK/dir.html"
[ -d "$WORK/dir.html" ] || { echo "FAIL: --force replaced a directory"; failed=1; }
expect 0 '^<!DOCTYPE html>' '' plot "$WORK/pkg" -o -
tail -c 8 "$WORK/out" | grep -q '</html>' || { echo "FAIL: -o - wrote more than the page"; failed=1; }
ls "$WORK" | grep -q '\.new-' && { echo "FAIL: --force left its new file behind"; failed=1; }

# The page of a run from results files alone, counted in its summary line.
printf '%s\n' planned_ms,sent_ms,lag_ms,latency_ms,status,error,ok,bytes_out,bytes_in,page,worker,user \
  0,0,0,1.5,200,,true,100,50,1,0,7 10,10,0,2.0,503,,false,100,50,1,0,7 >"$WORK/run.csv"
expect 0 '^plot: .*run1.html written (2 requests of 1 workers, from 1 results file)$' '' \
  plot --results "$WORK/run.csv" -o "$WORK/run1.html"
expect 0 '^plot: .*run2.html written (4 requests of 1 workers, from 2 results files)$' '' \
  plot --results "$WORK/run.csv" --results "$WORK/run.csv" -o "$WORK/run2.html"
# A file among them that is no results file ends the plot with no page.
echo 'not json' >"$WORK/bad.jsonl"
expect 1 '' 'bad.jsonl: not a results file (no column planned_ms in its first line)$' \
  plot --results "$WORK/run.csv" --results "$WORK/bad.jsonl" -o "$WORK/run4.html"
[ -e "$WORK/run4.html" ] && { echo "FAIL: a plot of a bad results file wrote its page"; failed=1; }
# With the package too: its directory is in the title.
expect 0 '^plot: .*run3.html written (2 requests of 1 workers, from 1 results file)$' '' \
  plot "$WORK/pkg" --results "$WORK/run.csv" -o "$WORK/run3.html"
for page in "run1.html|results: $WORK/run.csv" "run3.html|results: $WORK/run.csv ($WORK/pkg)"; do
  grep -qF "<title>Replay run ${page#*|}</title>" "$WORK/${page%%|*}" ||
    { echo "FAIL: ${page%%|*}: $(grep -o '<title>[^<]*' "$WORK/${page%%|*}" | head -1)"; failed=1; }
  # Results files do not say when the run started.
  grep -qF '<th>started</th><td>-</td>' "$WORK/${page%%|*}" ||
    { echo "FAIL: ${page%%|*}: $(grep -o '<th>started</th><td>[^<]*' "$WORK/${page%%|*}")"; failed=1; }
done

# Hostile packages: one worker, one user, one request; mkpkg DIR TIME
# [OFFSET [CONTENT_LENGTH]] writes it with the numbers given as text.
HEADER='#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, ...'
mkpkg() {
  local entry=$'POST /svc HTTP/1.1\r\nHost: h\r\nContent-Length: '"${4:-3}"$'\r\n\r\nabc\n'
  mkdir -p "$1"
  printf '%s' "$entry" >"$1/vt_req_0"
  printf '%s\n%s\n' "$HEADER" "000000001,vt_req_0,$2,0,${3:-0},${#entry}" >"$1/vt_index_0"
}
big=99999999999999999999
zeros=$(printf '%0200d' 0)
mkpkg "$WORK/big_time" "$big"
mkpkg "$WORK/big_offset" 0 18446744073709551615
mkpkg "$WORK/big_length" 0 0 "$big"
mkpkg "$WORK/zeros" "${zeros}5"
mkpkg "$WORK/far" 67108863000
too_large="number $big is too large (above 18446744073709551615)"
expect 1 "check: vt_index_0 line 2 group 1: $too_large" '' check "$WORK/big_time"
expect 1 'check: vt_index_0 line 2 group 1: outside vt_req_0' '' check "$WORK/big_offset"
expect 1 "check: vt_index_0 line 2 group 1: Content-Length: $too_large" '' check "$WORK/big_length"
expect 0 '1 requests, 0 problems' '' check "$WORK/zeros"
expect 1 '' 'vt_index_0 line 2: a number of a request group is too large' profile "$WORK/big_time"
expect 1 '' 'vt_index_0 line 2: a number of a request group is too large' plot "$WORK/big_time" -o "$WORK/big.html"
expect 0 '"requests":1,' '' profile "$WORK/zeros" --json
PROG=("$CHECK")
expect 1 '2 problems' "vt_index_0 line 2 group 1: $too_large" "$WORK/big_time"
# Up to 20 problems are shown; the summary counts them all.
mkpkg "$WORK/many" 0
for u in $(seq 2 25); do printf '%09d,vt_req_0,0,0,9999,10\n' "$u"; done >>"$WORK/many/vt_index_0"
expect 1 ' 24 problems$' 'outside vt_req_0' "$WORK/many"
[ "$(wc -l <"$WORK/err")" = 20 ] || { echo "FAIL: $(wc -l <"$WORK/err") problems shown, not 20"; failed=1; }
PROG=("$P")
# A sound package whose summary cannot be written is no success.
"$CHECK" "$WORK/zeros" >/dev/full 2>"$WORK/err"
[ $? = 1 ] && grep -q '^vt_package_check: writing the summary failed$' "$WORK/err" ||
  { echo "FAIL: vt_package_check to a full disk: $(cat "$WORK/err")"; failed=1; }

# Memory follows the requests, not the latest send time: a request at
# 67,108,863,000 ms fits in 100 MB (it took 274 MB), and a package that does
# not fit ends with status 1 and a message. Skipped where the limit stops
# the program from starting (the address sanitizer reserves terabytes).
mkdir -p "$WORK/huge"
printf '%s\n' "$HEADER" >"$WORK/huge/vt_index_0"
: >"$WORK/huge/vt_req_0"
truncate -s 400M "$WORK/huge/vt_index_0"
limit=(bash -c 'ulimit -v 100000 && exec "$0" "$@"')
if "${limit[@]}" "$P" --version >/dev/null 2>&1; then
  PROG=("${limit[@]}" "$P")
  expect 0 'requests  *1$' '' profile "$WORK/far"
  expect 0 'plot: .*far.html written (1 requests of 1 workers)' '' plot "$WORK/far" -o "$WORK/far.html"
  expect 1 '' '^vt_package check: out of memory$' check "$WORK/huge"
  expect 1 '' 'cannot read .*huge/vt_index_0: Cannot allocate memory' profile "$WORK/huge"
  PROG=("${limit[@]}" "$CHECK")
  expect 1 '' '^vt_package_check: out of memory$' "$WORK/huge"
  PROG=("$P")
else
  echo "cli: the programs do not start under a 100 MB limit here; the memory cases are skipped"
fi

# Files of the package that others may write, or that another user owns
# (only root can give a file away; elsewhere that case is skipped).
mkpkg "$WORK/owners" 0
chmod 0646 "$WORK/owners/vt_req_0"
expect 1 'check: vt_req_0: others may write it (mode 0646)' '' check "$WORK/owners"
PROG=("$CHECK")
expect 1 '1 problems' 'vt_req_0: others may write it (mode 0646)' "$WORK/owners"
PROG=("$P")
chmod 0644 "$WORK/owners/vt_req_0"
expect 0 '0 problems' '' check "$WORK/owners"
if [ "$(id -u)" = 0 ]; then
  owner=$(stat -c %u "$WORK/owners")
  chown 65534 "$WORK/owners/vt_index_0"
  expect 1 "check: vt_index_0: owned by uid 65534, not by the directory's owner (uid $owner)" '' check "$WORK/owners"
  PROG=("$CHECK")
  expect 1 '1 problems' "vt_index_0: owned by uid 65534" "$WORK/owners"
  PROG=("$P")
else
  echo "cli: not root: the case of a file of another owner is skipped"
fi

[ $failed = 0 ] && echo "cli: all cases pass"
exit $failed
