#!/bin/bash
# preview_run.sh VT_PACKAGE TOOL LOGGEN SUITE_BIN: preview beside a real run. The dry run leaves no
# file, its figures are profile's of the run's package and the generator's; then failing runs.
WORK_IN=$PWD . "${0%/*}/../lib.sh"                # outside /tmp, which is watched alone
P=$1 TOOL=$2 LOGGEN=$3 SUITE_BIN=$4
RES=$(mktemp -d "$PWD/preview_results.XXXXXX")  # outputs and listings, not watched

"$LOGGEN" --out "$WORK/logs" --days 2 --files-per-day 3 --requests 20000 --customers 1500 \
  --services 12 --seed 7 --quiet >"$WORK/loggen.out" || exit 1
expected() { sed -n "s/^$1=//p" "$WORK/loggen.out"; }
grouped() { echo "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }  # 20000 -> 20,000
mkdir -p "$WORK/wdir/scenarios/p/s"
cat >"$WORK/replay.conf" <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/out/replay
SCRIPT_NAME|p/s/script
SCENARIO_NAME|p/s/x.conf
NUM_VVM|3
$(expected replay_period)
CONF
export VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH

# previewed NAME ARGS...: $RES/preview.NAME.{out,err,status}; fails where /tmp or $WORK changes.
TMP_TOPS=$(for p in "$P" "$SUITE_BIN" "$WORK" "$RES"; do
  case "$p/" in /tmp/?*) p=${p#/tmp/} && echo "${p%%/*}" ;; esac
done | sort -u)
listing() {  # files with their times, directories without (theirs follow their files)
  (cd "$WORK" && find . -type d -printf '%p\n' -o -printf '%p %s %T@\n' | sort)
  find /tmp -mindepth 1 -maxdepth 3 -printf '/tmp/%P\n' 2>/dev/null | sort
}
previewed() {
  local name=$1 private=1 wrap=(unshare -m --propagation private)
  shift
  "${wrap[@]}" true 2>/dev/null || { private= wrap=(); }
  [ -n "$private" ] || echo "note: no private /tmp here; /tmp is compared as it is, other programs' files included"
  # shellcheck disable=SC2016
  "${wrap[@]}" bash -c '
    WORK=$1; RES=$2; name=$3; TMP_TOPS=$4; private=$5; shift 5
    if [ -n "$private" ]; then
      fresh=$(mktemp -d "$RES/fresh_tmp.XXXXXX") || exit 90
      mount -t tmpfs none "$fresh" || exit 90
      while IFS= read -r top; do
        [ -z "$top" ] || { mkdir "$fresh/$top" && mount --bind "/tmp/$top" "$fresh/$top"; } || exit 90
      done <<<"$TMP_TOPS"
      mount --move "$fresh" /tmp || exit 90
    fi
    '"$(declare -f listing)"'
    listing >"$RES/listing.before"
    "$@" >"$RES/preview.$name.out" 2>"$RES/preview.$name.err"
    echo $? >"$RES/preview.$name.status"
    listing >"$RES/listing.after"' _ "$WORK" "$RES" "$name" "$TMP_TOPS" "$private" "$P" preview "$@"
  diff "$RES/listing.before" "$RES/listing.after" >/dev/null ||
    fail "preview ($name) left files behind: $(diff "$RES/listing.before" "$RES/listing.after" | head -5)"
}
status_of() { cat "$RES/preview.$1.status"; }
# ends STATUS NAME LINES ARGS...: previewed, with STATUS and an output holding each of LINES.
ends() {
  local status=$1 name=$2 lines=$3 line
  shift 3
  previewed "$name" "$@"
  [ "$(status_of "$name")" = "$status" ] || fail "$name: preview exited $(status_of "$name"), not $status"
  while IFS= read -r line; do
    [ -z "$line" ] || grep -qF -- "$line" "$RES/preview.$name.out" || fail "$name: no '$line': $(cat "$RES/preview.$name.out")"
  done <<<"$lines"
}

# 1. A run that would succeed (the JSON report in buckets of 7 s).
read -r files bytes < <(find "$WORK/logs" -type f -printf '%s\n' | awk '{ n++; s += $1 } END { print n, s }')
ends 0 json '' -i "$WORK/replay.conf" --json --bucket 7
ends 0 text "preview: the run would succeed
  input files: $files, $(grouped "$bytes") bytes" -i "$WORK/replay.conf"

# 1b. Under 8K the dry run spills in a temporary directory it removes; the same report.
{ cat "$WORK/replay.conf"; echo "MEMORY_LIMIT|8K"; } >"$WORK/small.conf"
ends 0 small '' -i "$WORK/small.conf" --json --bucket 7
cmp -s "$RES/preview.small.out" "$RES/preview.json.out" ||
  fail "preview under 8K differs: $(diff <(tr , '\n' <"$RES/preview.small.out") <(tr , '\n' <"$RES/preview.json.out") | head -6)"

# One customer, whose users never overlap: spilled or not, one active at a time.
"$LOGGEN" --out "$WORK/one" --requests 200 --customers 1 --seed 3 --quiet >"$WORK/one.out" || exit 1
for budget in "" "MEMORY_LIMIT|8K"; do
  { grep -v -e '^INPUT_DIR' -e '^REPLAY_PERIOD' "$WORK/replay.conf"; echo "INPUT_DIR|$WORK/one"
    sed -n 's/^replay_period=//p' "$WORK/one.out"; echo "$budget"; } >"$WORK/one.conf"
  "$P" preview -i "$WORK/one.conf" --json >"$RES/one.out" 2>&1 || fail "preview of one customer exited $?"
  grep -qF '"users":8,' "$RES/one.out" && grep -qF '"max_active_users":1,' "$RES/one.out" ||
    fail "one customer${budget:+ under 8K}: $(grep -o '"users":[0-9]*\|"max_active_users":[0-9]*' "$RES/one.out")"
done

# 1c. The dry run killed by SIGXFSZ (spilling under 32 KB) named (GCOV_PREFIX: coverage).
(ulimit -f 32 && GCOV_PREFIX=/dev/null "$P" preview -i "$WORK/small.conf" >"$RES/preview.killed.out" 2>&1)
[ $? = 1 ] && grep -qxF "  the dry run ended by signal 25" "$RES/preview.killed.out" ||
  fail "a dry run killed by a signal, with status 1 and its name: $(cat "$RES/preview.killed.out")"

# 1d. Ctrl-C (to the whole job) while the dry run spills: it removes its spill directory.
mkdir "$WORK/tmp"
set -m
TMPDIR=$WORK/tmp "$P" preview -i "$WORK/small.conf" >"$RES/preview.int.out" 2>&1 &
job=$! spilled=""
set +m
for _ in $(seq 400); do spilled=$(ls -d "$WORK"/tmp/vt_spill.* 2>/dev/null) && break; kill -0 "$job" 2>/dev/null || break; sleep 0.01; done
kill -INT -- "-$job" 2>/dev/null
wait "$job"
[ -n "$spilled" ] || echo "note: the dry run ended before its spill directory was seen; the interrupt is not checked"
for _ in $(seq 100); do [ -e "${spilled:-/nonexistent}" ] || break; sleep 0.05; done
[ ! -e "${spilled:-/nonexistent}" ] || fail "an interrupted dry run left $spilled"

# 1e. Too few descriptors for the pipes to the dry run (ours above 2 closed first).
(
  for fd in $(ls /proc/$BASHPID/fd); do [ "$fd" -gt 2 ] && eval "exec $fd>&-"; done
  ulimit -n 4 && exec "$P" preview -i "$WORK/replay.conf"
) >"$RES/preview.nofd.out" 2>&1
[ $? = 1 ] && [ "$(cat "$RES/preview.nofd.out")" = "vt_package preview: cannot make a pipe: Too many open files" ] ||
  fail "preview without descriptors for its pipes: $(cat "$RES/preview.nofd.out")"

"$TOOL" -i "$WORK/replay.conf" >"$RES/run.out" 2>&1 || fail "the real run failed: $(tail -3 "$RES/run.out")"
# Beside a package it spills in TMPDIR alone, runs nothing, writes nothing else but /dev/null.
if command -v strace >/dev/null; then
  TMPDIR=$WORK/tmp strace -f -e trace=execve,execveat,openat,mkdir -o "$RES/strace" \
    "$P" preview -i "$WORK/small.conf" -f >/dev/null
  [ "$(grep -c 'execve' "$RES/strace")" = 1 ] || fail "preview ran a program: $(grep execve "$RES/strace" | sed -n 2p)"
  [ "$(grep -c 'mkdir(' "$RES/strace")" = 1 ] &&
    grep -q "mkdir(\"$WORK/tmp/vt_spill\.[A-Za-z0-9]*\", 0700) = 0" "$RES/strace" ||
    fail "preview under 8K spilled elsewhere than in TMPDIR: $(grep 'mkdir(' "$RES/strace")"
  writes=$(grep 'openat(' "$RES/strace" | grep -E 'O_WRONLY|O_RDWR|O_CREAT' |
    grep -v -e '"/dev/null"' -e '\.gcda"' -e "\"$WORK/tmp/vt_spill\.")
  [ -z "$writes" ] || fail "preview opened files to write: $writes"
fi
"$P" profile "$WORK/out/replay" --json --bucket 7 >"$RES/profile.json" || fail "profile --json failed"
"$P" profile "$WORK/out/replay" >"$RES/profile.txt" || fail "profile failed"

# preview's package keys and table (but for its title) are profile's.
sed 's/,"records":.*$/}/' "$RES/preview.json.out" >"$RES/preview.package.json"
cmp -s "$RES/preview.package.json" "$RES/profile.json" ||
  fail "preview and profile differ: $(diff <(tr , '\n' <"$RES/preview.package.json") <(tr , '\n' <"$RES/profile.json") | head -6)"
sed -n '/the package the run would make in/,$p' "$RES/preview.text.out" | sed '1d' | head -n -2 >"$RES/preview.table"
sed 1d "$RES/profile.txt" >"$RES/profile.table"
cmp -s "$RES/preview.table" "$RES/profile.table" ||
  fail "preview's table differs from profile's: $(diff "$RES/preview.table" "$RES/profile.table" | head -6)"

# Both against the generator's counts and the run's summary (preview's codes: the cmp).
key() { grep -o "\"$1\":[0-9]*" "$2" | head -1 | cut -d: -f2; }
[ "$(key records "$RES/preview.json.out")" = "$(expected requests)" ] || fail "records met"
[ "$(key accepted "$RES/preview.json.out")" = "$(expected expected_accepted)" ] || fail "accepted"
[ "$(key requests "$RES/profile.json")" = "$(expected expected_accepted)" ] || fail "requests"
[ "$(key users "$RES/profile.json")" = "$(expected expected_users)" ] || fail "users"
[ "$(key body_bytes "$RES/profile.json")" = "$(expected good_body_bytes)" ] || fail "body bytes"
want_codes={$(for c in 101 102 103 104 105 106 107; do
  [ "$(expected bad_$c)" = 0 ] || echo "\"$c\":$(expected bad_$c)"; done | paste -sd,)}
got_codes=$(grep -o '"rejected_by_code":{[^}]*}' "$RES/profile.json" | cut -d: -f2-)
[ "$got_codes" = "$want_codes" ] || fail "the error logs by code: $got_codes, wanted $want_codes"
users_line=$(grep -o 'Total users = [0-9,]*, total requests = [0-9,]*' "$RES/run.out" | tr -d ,)
[ "$users_line" = "Total users = $(expected expected_users) total requests = $(expected expected_accepted)" ] ||
  fail "the run's summary: $users_line"

# 3. Stopped at once by the tool's reader; the misspelt keyword before stays a warning.
{ sed -e '/^SCRIPT_NAME|/d' -e 's/^NUM_VVM|3$/NUM_VMM|3/' "$WORK/replay.conf"; echo 'SCRIPT_TYPE|Cpp'; } >"$WORK/bad.conf"
ends 1 bad '"problems":["the run would stop: read_config_file_new:Error: Invalid script type Cpp. It should be Legacy or C"]' \
  -i "$WORK/bad.conf" -f --json

# 4. A period ending before it starts: every record rejected; with -f no replay dir problem.
empty_period='s#^REPLAY_PERIOD|.*$#REPLAY_PERIOD|12/03/2026 00:00:00|12/01/2026 00:00:00#'
sed "$empty_period" "$WORK/replay.conf" >"$WORK/period.conf"
ends 1 period "  the run would stop: main:No Valid request found to process, Exiting.
  records met $(grouped "$(expected requests)"), accepted 0, rejected $(grouped "$(expected requests)")" -i "$WORK/period.conf" -f
grep -qF "already exists" "$RES/preview.period.out" && fail "-f: the replay directory is still a problem"

# 5. A day's extracts unlistable (a link loop) stops Step 1, after the problems found before.
day=$(ls "$WORK/logs" | head -1)
mv "$WORK/logs/$day/extracts" "$WORK/logs/$day/kept" && ln -s extracts "$WORK/logs/$day/extracts"
sed -e 's/^NUM_VVM|3$/NUM_VMM|3/' -e "$empty_period" "$WORK/replay.conf" >"$WORK/loop.conf"
ends 1 loop "  Line 5 of the configuration: 'NUM_VMM' is no keyword (did you mean NUM_VVM?); the line is ignored.
  REPLAY_PERIOD starts after it ends: no time falls in it, so every record that gets so far is rejected with code 102
  Replay directory $WORK/out/replay already exists (the run replaces it only with -f)
  the run would stop: gen_input_file_list:Unable to list input directory $WORK/logs/$day/extracts: Too many levels of symbolic links" \
  -i "$WORK/loop.conf"
rm "$WORK/logs/$day/extracts" && mv "$WORK/logs/$day/kept" "$WORK/logs/$day/extracts"

# 6. An unreadable input file (a link to nothing): nothing loaded, sizes (or -1), no record.
first=$(ls "$WORK/logs/$day/extracts" | head -1)
mv "$WORK/logs/$day/extracts/$first" "$WORK/logs/$day/kept_file" && ln -s nowhere "$WORK/logs/$day/extracts/$first"
ends 1 gone "{\"path\":\"$WORK/logs/$day/extracts/$first\",\"bytes\":-1,\"records\":0}" -i "$WORK/replay.conf" -f --json
[ "$(grep -o '"records":[0-9]*' "$RES/preview.gone.out" | sort -u | tr '\n' ' ')" = '"records":0 ' ] ||
  fail "records counted without loading: $(cat "$RES/preview.gone.out")"

verdict "all checks pass"
