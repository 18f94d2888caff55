#!/bin/bash
# hostile.sh VT_PACKAGE VTU_REPLAY_GEN SUITE_BIN EXAMPLES VT_REPLAY VT_SINK: hostile situations in
# a package (in a directory named with no UTF-8, a backslash, a quote): check, profile and plot name
# the problem (1), vt_replay refuses in one line, sending nothing; then such names in JSON and HTML.
. "${0%/*}/../lib.sh"
export LC_ALL=C
P=$1 TOOL=$2 SUITE_BIN=$3 EXAMPLES=$4 REPLAY=$5 SINK=$6

D=$WORK/$'caf\xe9\\ "q"'
mkdir -p "$D/wdir/scenarios/demo/replay"
{ sed -e "s#@EXAMPLES@#$EXAMPLES#g" -e '/^REPLAY_DIR/d' "$EXAMPLES/replay.conf.in"
  printf 'REPLAY_DIR|%s/replay\n' "$D"; } >"$D/replay.conf"
(cd "$D" && PATH=$SUITE_BIN:$PATH VT_WDIR=$D/wdir "$TOOL" -i replay.conf -d 0) >"$WORK/run.log" 2>&1 ||
  { cat "$WORK/run.log"; exit 1; }
R=$D/replay M=$R/vt_manifest.json
cp -a "$R" "$WORK/saved"
# What the manifest lists is what xxh128sum and stat find.
for f in vt_req_0 vt_req_1 vt_index_0 vt_index_1; do
  grep -qF "{\"name\": \"$f\", \"size\": $(stat -c %s "$R/$f"), \"xxh3_128\": \"$(xxh128sum <"$R/$f" | cut -d' ' -f1)\"}" "$M" ||
    fail "the manifest does not list $f with its size and digest"
done

"$SINK" --seconds 300 --port-file "$WORK/port" --pid-file "$WORK/sink.pid" --background >"$WORK/sink.out" || exit 1
SINK_PID=$(cat "$WORK/sink.pid")
TARGET=127.0.0.1:$(cat "$WORK/port")

# run NAME COMMAND...: $WORK/NAME.status, .out and .err.
run() {
  local name=$1
  shift
  timeout 20 "$@" </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err"
  echo $? >"$WORK/$name.status"
}
# hostile PROBLEM SETUP [READERS]: after SETUP on a fresh copy each reader names PROBLEM.
hostile() {
  local problem=$1 readers=${3:-check profile plot replay}
  rm -rf "$R" && cp -a "$WORK/saved" "$R" && eval "$2"
  run check "$P" check "$R"
  run profile "$P" profile "$R"
  run plot "$P" plot "$R" -o -
  for reader in ${readers% replay}; do
    [ "$(cat "$WORK/$reader.status")" = 1 ] && grep -qF -- "$problem" "$WORK/$reader.out" "$WORK/$reader.err" ||
      fail "$reader did not name '$problem' (status $(cat "$WORK/$reader.status")): $(head -c 300 "$WORK/$reader.err")"
  done
  [ "${readers% replay}" != "$readers" ] || return 0
  run replay "$REPLAY" "$R" --target "$TARGET" --speed 1e9 --quiet
  [ "$(cat "$WORK/replay.status")" = 1 ] && [ "$(wc -l <"$WORK/replay.err")" = 1 ] &&
    grep -qF -- "vt_replay: reading package: $R/$problem" "$WORK/replay.err" ||
    fail "vt_replay did not refuse with '$problem' in one line (status $(cat "$WORK/replay.status")): $(cat "$WORK/replay.err")"
}
owned="owned by uid 65534, neither the directory's owner"
hostile "vt_req_1: $owned" 'chown 65534 "$R/vt_req_1"'
hostile "vt_manifest.json: $owned" 'chown 65534 "$M"'
hostile "error.log.0: $owned" 'chown 65534 "$R/error.log.0"' 'check profile plot'
grep -q 'rejected records: 0$' "$WORK/profile.out" || fail "profile counted a foreign error log"
hostile 'vt_req_1: a symbolic link, which no reader follows' 'mv "$R/vt_req_1" "$WORK/req" && ln -s "$WORK/req" "$R/vt_req_1"'
hostile 'vt_index_1: a named pipe, not a regular file' 'rm "$R/vt_index_1" && mkfifo "$R/vt_index_1"'
hostile 'vt_index_2: a worker the manifest does not list (it lists 2 workers)' \
  'cp "$R/vt_req_1" "$R/vt_req_2" && sed s/vt_req_1/vt_req_2/ "$R/vt_index_1" >"$R/vt_index_2"'
hostile "vt_manifest.json: \"users\" 999999 is not the workers' sum, 14" 'sed -i "s/\"users\": 14,/\"users\": 999999,/" "$M"'
hostile 'vt_index_0: 7 users where the manifest says 8' \
  'sed -i -e "s/\"users\": 14,/\"users\": 15,/" -e "s/\"worker\": 0, \"users\": 7,/\"worker\": 0, \"users\": 8,/" "$M"'
hostile 'vt_req_1: 3711 bytes where the manifest says 3712' 'sed -i "s/\"size\": 3711,/\"size\": 3712,/" "$M"'
hostile "vt_req_1: digest differs from the manifest's" 'printf X | dd of="$R/vt_req_1" bs=1 seek=3700 conv=notrunc status=none' check
capture_start='sed -i "s/\"capture_start_ms\": [0-9]*/\"capture_start_ms\": '
hostile 'vt_manifest.json: "capture_start_ms" must be a whole number up to 253402300799999' "$capture_start"'18446744073709551615/" "$M"'
hostile "vt_index_0: send time 88419877 ms after the capture's start lies beyond the year 9999" "$capture_start"'253402300799999/" "$M"'
hostile 'vt_index_0 line 2 group 1: entry outside vt_req_0' 'sed -i "2s/,0,0,0,330,/,0,0,0,999999,/" "$R/vt_index_0"'
hostile 'vt_index_0 line 2 group 2: time goes back' 'sed -i "2s/,vt_req_0,0,/,vt_req_0,5000,/" "$R/vt_index_0"' 'check replay'
rm -rf "$R" && cp -a "$WORK/saved" "$R"
kill "$SINK_PID" && SINK_PID=
for _ in $(seq 50); do grep -q stopped "$WORK/sink.out" && break; sleep 0.1; done
grep -q 'answered 0 requests (none) on 0 connections' "$WORK/sink.out" ||
  fail "something was sent: $(cat "$WORK/sink.out")"

# Files of other owners are read when the operator trusts them.
chown 65534 "$R/vt_req_1" "$R/error.log.0"
run check "$P" check "$R" --trust-foreign-files
run profile "$P" profile "$R" --trust-foreign-files
grep -q ' 0 problems$' "$WORK/check.out" && [ "$(cat "$WORK/profile.status")" = 0 ] &&
  grep -q 'rejected records: 1$' "$WORK/profile.out" || fail "--trust-foreign-files: $(cat "$WORK/check.out" "$WORK/profile.err")"
chown 0 "$R/vt_req_1" "$R/error.log.0"

# A sound package: names and clock times in profile and plot; without a manifest, as before.
run profile "$P" profile "$R"
grep -q '^  captured  *2026-11-18 11:06:40.123 UTC to 2026-11-19 11:40:30.000 UTC$' "$WORK/profile.out" &&
  grep -q '^       0         13          4,286   56.5%  IService_GetData$' "$WORK/profile.out" ||
  fail "profile lacks the capture's times or the service names: $(cat "$WORK/profile.out")"
"$P" plot "$R" -o - | grep -aq '>page 1 IOrders_PutOrder<' || fail "the plot lacks the service names"
mv "$M" "$WORK/manifest"
run check "$P" check "$R"
[ "$(cat "$WORK/check.out")" = "check: $R: 2 workers, 14 users, 23 requests, 0 problems" ] ||
  fail "check without a manifest: $(cat "$WORK/check.out")"
mv "$WORK/manifest" "$M"

# Names of no UTF-8, with a backslash, a quote, "<" and "&": valid JSON holds them, pages escape them.
"$SINK" --seconds 60 --port-file "$WORK/port2" --pid-file "$WORK/sink2.pid" --background --quiet || exit 1
SINK_PID=$(cat "$WORK/sink2.pid")
J=$D/$'r\xff<&>'
run replay "$REPLAY" "$R" --target "127.0.0.1:$(cat "$WORK/port2")" --speed 1e9 --quiet \
  --header $'X-Note: caf\xe9' --json "$J.json"
run merge "$REPLAY" merge "$J.json" --json "$J.merged.json" --html "$J.html"
run preview "$P" preview -i "$D/replay.conf" -f --json
python3 - "$D" "$J" "$WORK/preview.out" <<'PY' || fail "the JSON does not hold the names"
import json, os, sys
d, j, preview = (os.fsencode(a) for a in sys.argv[1:])
read = lambda path: json.load(open(path, encoding='utf-8'))
# Each byte that is no UTF-8 is written as the code point of its value.
text = lambda raw: raw.decode('latin-1')
assert read(j + b'.json')['package'] == text(d + b'/replay')
assert read(j + b'.json')['rewrites'][0]['value'] == 'caf\xe9'
assert read(j + b'.merged.json')['merged_from'] == [text(j + b'.json')]
assert read(preview)['replay_dir'] == text(d + b'/replay')
PY
grep -aqF '&lt;&amp;&gt;.json' "$J.html" && ! grep -aqF '<&>' "$J.html" ||
  fail "the page of the merge does not escape the reports' names"

verdict "all cases pass"
