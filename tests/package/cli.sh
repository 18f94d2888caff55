#!/bin/bash
# cli.sh VT_PACKAGE VT_PACKAGE_CHECK: help (0), wrong use (2), unreadable packages (1); plot's page
# and --force; vt_package_check's many problems, a full disk, a package too big.
. "${0%/*}/../lib.sh"
P=$1 CHECK=$2
matches() { if [ -z "$1" ]; then [ ! -s "$2" ]; else grep -q -- "$1" "$2"; fi; }
# expect STATUS STDOUT_PATTERN STDERR_PATTERN ARGS...: ${PROG[@]} for 20 s; "": empty.
PROG=("$P")
expect() {
  local status=$1 out_pattern=$2 err_pattern=$3 got
  shift 3
  timeout 20 "${PROG[@]}" "$@" >"$WORK/out" 2>"$WORK/err"
  got=$?
  [ "$got" = "$status" ] && matches "$out_pattern" "$WORK/out" && matches "$err_pattern" "$WORK/err" ||
    fail "${PROG[*]##*/} $* -> status $got (wanted $status)
  stdout: $(head -c 300 "$WORK/out")
  stderr: $(head -c 300 "$WORK/err")"
}

# (The programs' own --help, --version and unknown option: cli_conventions.sh.)
expect 0 '^usage: vt_package check DIR' '' check --help
expect 0 '^usage: vt_package profile DIR' '' profile somewhere --json --help
expect 2 '' '^usage: vt_package <command>'
expect 2 '' 'unknown command: frob$' frob
expect 2 '' 'unknown command: chek (did you mean check?)' chek
expect 2 '' 'a replay directory is needed' profile
expect 2 '' '--bucket takes whole seconds' profile "$WORK" --bucket 0
expect 2 '' 'unknown option: --frob' profile --frob "$WORK"
expect 2 '' 'one directory only' profile a b
expect 2 '' 'plot needs -o FILE.html' plot "$WORK"
expect 2 '' 'check needs a replay directory' check
expect 2 '' 'preview needs -i CONFIG' preview
expect 2 '' '-i needs a configuration file' preview -i
expect 2 '' 'unknown argument: x' preview -i c x
expect 2 '' '^vt_package preview: --bucket takes whole seconds from 1 to 31536000$' preview -i c --bucket 0
expect 1 '' 'vt_package plot: /nonexistent: No such file or directory' plot /nonexistent -o "$WORK/p.html"
expect 1 '' "vt_package profile: $WORK holds no vt_index_0" profile "$WORK"
expect 1 '' 'vt_package profile: /etc/passwd: Not a directory' profile /etc/passwd
expect 1 'check: /nonexistent: No such file or directory' '' check /nonexistent
[ ! -e "$WORK/p.html" ] || fail "plot left a file behind"

# An existing file is never overwritten (nor a link followed: CreateNewFile).
mkdir "$WORK/pkg"
HEADER='#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, ...'
printf '%s\n' "$HEADER" >"$WORK/pkg/vt_index_0"
: >"$WORK/pkg/vt_req_0"
echo keep >"$WORK/existing.html"
ln -s "$WORK/target.html" "$WORK/link.html"
expect 1 '' 'cannot create .*existing.html: File exists' plot "$WORK/pkg" -o "$WORK/existing.html"
expect 0 '^plot: .*empty.html written (0 requests of 1 workers)' '' plot "$WORK/pkg" -o "$WORK/empty.html"

# --force replaces a file (and a link, not followed); -o - writes the page alone.
expect 0 '^plot: .*existing.html written' '' plot "$WORK/pkg" -o "$WORK/existing.html" --force
grep -q '^<!DOCTYPE html>' "$WORK/existing.html" || fail "--force did not replace"
expect 0 '^plot: .*link.html written' '' plot "$WORK/pkg" --force -o "$WORK/link.html"
[ -f "$WORK/link.html" ] && [ ! -L "$WORK/link.html" ] && [ ! -e "$WORK/target.html" ] ||
  fail "--force followed a link or left it"
# A directory in the way is left, the new file beside it removed.
mkdir "$WORK/dir.html"
expect 1 '' 'cannot replace .*dir.html: Is a directory$' plot "$WORK/pkg" --force -o "$WORK/dir.html"
[ -d "$WORK/dir.html" ] || fail "--force replaced a directory"
expect 0 '^<!DOCTYPE html>' '' plot "$WORK/pkg" -o -
tail -c 8 "$WORK/out" | grep -q '</html>' || fail "-o - wrote more than the page"
ls "$WORK" | grep -q '\.new-' && fail "--force left its new file behind"

# A run's page from results files, counted; a file of no results, no page; a package, titled.
printf '%s\n' planned_ms,sent_ms,lag_ms,latency_ms,status,error,ok,bytes_out,bytes_in,page,worker,user \
  0,0,0,1.5,200,,true,100,50,1,0,7 10,10,0,2.0,503,,false,100,50,1,0,7 >"$WORK/run.csv"
expect 0 '^plot: .*run1.html written (2 requests of 1 workers, from 1 results file)$' '' \
  plot --results "$WORK/run.csv" -o "$WORK/run1.html"
expect 0 '^plot: .*run2.html written (4 requests of 1 workers, from 2 results files)$' '' \
  plot --results "$WORK/run.csv" --results "$WORK/run.csv" -o "$WORK/run2.html"
echo 'not json' >"$WORK/bad.jsonl"
expect 1 '' 'bad.jsonl: not a results file (no column planned_ms in its first line)$' \
  plot --results "$WORK/run.csv" --results "$WORK/bad.jsonl" -o "$WORK/run4.html"
[ -e "$WORK/run4.html" ] && fail "a plot of a bad results file wrote its page"
expect 0 '^plot: .*run3.html written (2 requests of 1 workers, from 1 results file)$' '' \
  plot "$WORK/pkg" --results "$WORK/run.csv" -o "$WORK/run3.html"
# (Results files do not say when the run started.)
for page in "run1.html|results: $WORK/run.csv" "run3.html|results: $WORK/run.csv ($WORK/pkg)"; do
  grep -qF "<title>Replay run ${page#*|}</title>" "$WORK/${page%%|*}" &&
    grep -qF '<th>started</th><td>-</td>' "$WORK/${page%%|*}" ||
    fail "${page%%|*}: $(grep -o '<title>[^<]*\|<th>started</th><td>[^<]*' "$WORK/${page%%|*}")"
done

# mkpkg DIR TIME: one worker, one user, one request at TIME.
mkpkg() {
  local entry=$'POST /svc HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc\n'
  mkdir -p "$1"
  printf '%s' "$entry" >"$1/vt_req_0"
  printf '%s\n%s\n' "$HEADER" "000000001,vt_req_0,$2,0,0,${#entry}" >"$1/vt_index_0"
}
mkpkg "$WORK/far" 67108863000
PROG=("$CHECK")
# Up to 20 problems are shown; the summary counts them all.
mkpkg "$WORK/many" 0
for u in $(seq 2 25); do printf '%09d,vt_req_0,0,0,9999,10\n' "$u"; done >>"$WORK/many/vt_index_0"
expect 1 ' 24 problems$' 'outside vt_req_0' "$WORK/many"
[ "$(wc -l <"$WORK/err")" = 20 ] || fail "$(wc -l <"$WORK/err") problems shown, not 20"
PROG=("$P")
# A sound package whose summary cannot be written is no success.
"$CHECK" "$WORK/far" >/dev/full 2>"$WORK/err"
[ $? = 1 ] && grep -q '^vt_package_check: writing the summary failed$' "$WORK/err" ||
  fail "vt_package_check to a full disk: $(cat "$WORK/err")"

# In 100 MB (where programs start so): a far send time, 3,000,000 users; a check that cannot fit.
mkpkg "$WORK/huge" 0
awk 'BEGIN { for (i = 2; i <= 3000000; i++) printf "%09d,vt_req_0,0,0,0,54\n", i }' >>"$WORK/huge/vt_index_0"
limit=(bash -c 'ulimit -v 100000 && exec "$0" "$@"')
if "${limit[@]}" "$P" --version >/dev/null 2>&1; then
  PROG=("${limit[@]}" "$P")
  expect 0 'requests  *1$' '' profile "$WORK/far"
  expect 0 'plot: .*far.html written (1 requests of 1 workers)' '' plot "$WORK/far" -o "$WORK/far.html"
  expect 0 'users  *3,000,000$' '' profile "$WORK/huge"
  expect 1 '' '^vt_package check: out of memory$' check "$WORK/huge"
  PROG=("${limit[@]}" "$CHECK")
  expect 1 '' '^vt_package_check: out of memory$' "$WORK/huge"
  PROG=("$P")
else
  echo "cli: the programs do not start under a 100 MB limit here; the memory cases are skipped"
fi

verdict "all cases pass"
