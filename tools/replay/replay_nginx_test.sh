#!/bin/bash
# End to end against a real server: a log tree from vt_loggen, a package from
# vtu_replay_gen (HTTP/1.0, a new connection per request), nginx on free ports
# of 127.0.0.1, plain and HTTPS with a certificate made here, run from a
# temporary prefix; it answers 503 for /svc/Orders.svc and 200 for the rest.
#   1. plain: nginx's access log holds exactly the package's requests
#      (method, path, Content-Length, and the request's length: each entry was
#      sent whole); the report counts them alike, names the services of the
#      manifest, and fails the run without a threshold (status 3); the results
#      file holds one line per request, whose latencies give the percentiles.
#   2. --cacert: the same requests arrive; every connection after a user's
#      first resumes its session; no address goes out as SNI.
#   3. rewrites: nginx logs the replaced Host, the added header, the replaced
#      Content-Type and the removed X-Test header; SNI is the --sni name;
#      --max-failed crossed gives status 3 and names it in the report.
# (Shards and their merge: ReplayProgram.ShardsMergeToTheWholeRun;
# certificates refused: ReplayEngine and ReplayProgram cases.)
#
#   replay_nginx_test.sh VT_REPLAY VTU_REPLAY_GEN VT_LOGGEN SUITE_BIN
#
# Exit status 77 (a skip for CTest) when nginx is not installed.
set -u
REPLAY=$1 TOOL=$2 LOGGEN=$3 SUITE_BIN=$4
NAME=replay_nginx_test
. "$(dirname "$0")/replay_test_lib.sh"
skip_without_nginx
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_replay_nginx.XXXXXX")
trap cleanup EXIT

make_package "$TOOL" "$LOGGEN" "$SUITE_BIN" 200 "X-Test: 1"  # no keep-alive
package_listing >"$WORK/expected" || die "cannot read the package"
TOTAL=$(awk '{ n += $1 } END { print n }' "$WORK/expected")
BUSY=$(awk '$3 == "/svc/Orders.svc" { n += $1 } END { print n + 0 }' "$WORK/expected")
OK=$((TOTAL - BUSY))
USERS=$(cat "$WORK"/pkg/vt_index_* | grep -vc '^#')
[ "$TOTAL" -gt 100 ] && [ "$BUSY" -gt 0 ] || die "the package holds $TOTAL requests, $BUSY to Orders"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=localhost -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1 || die "openssl cannot make a certificate"

# What arrived is logged; each request is proxied to /back/ of the same
# server, so that the body is read whole ($request_length counts it).
cat >"$WORK/servers" <<'CONF'
  log_format seen '$request_method $request_uri $content_length $request_length $status '
                  '$ssl_session_reused sni=$ssl_server_name host=$http_host '
                  'run=$http_x_run conn=$http_connection type=$content_type';
  server {
    listen 127.0.0.1:@PORT@;
    listen 127.0.0.1:@PORT2@ ssl;
    ssl_certificate @WORK@/cert.pem;
    ssl_certificate_key @WORK@/key.pem;
    access_log @WORK@/nginx/access.log seen;
    location / { proxy_pass http://127.0.0.1:@PORT@/back/; }
    location /back/ { access_log off; return 200 "ok\n"; }
    location = /back/svc/Orders.svc { access_log off; return 503 "busy\n"; }
  }
CONF
start_nginx "$WORK/servers"
SPEED=$(two_second_speed)
TARGET=https://127.0.0.1:$PORT2
LOG=$WORK/nginx/access.log

# replay NAME ARGS...: runs vt_replay on the package; its status in $status,
# its outputs in $WORK/NAME.out, .err and .json.
replay() {
  local name=$1
  shift
  : >"$LOG"
  timeout 60 "$REPLAY" "$WORK/pkg" --speed "$SPEED" --timeout 3000 --quiet \
    --json "$WORK/$name.json" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  status=$?
  cp "$WORK/$name.out" "$WORK/replay.out"
  cp "$WORK/$name.err" "$WORK/replay.err"
  sleep 0.2  # nginx writes the log line after the response
}
has() { grep -qF -- "$2" "$WORK/$1" || die "$1 lacks: $2"; }
# nginx's log holds the package, answered 503 for Orders alone.
logged_alike() {
  awk '{ print $1, $2, $3, $4 }' "$LOG" | sort | uniq -c >"$WORK/actual"
  diff "$WORK/expected" "$WORK/actual" >"$WORK/diff" ||
    die "nginx logged other requests than the package holds: $(head -20 "$WORK/diff")"
  awk -v busy="$BUSY" '($5 == 503) != ($2 == "/svc/Orders.svc") { bad = 1 } $5 == 503 { n++ }
    END { exit bad || n != busy }' "$LOG" || die "nginx answered other statuses"
}

# 1. Plain.
replay plain --target "127.0.0.1:$PORT" --results "$WORK/results.jsonl" --html "$WORK/run.html"
[ $status = 3 ] || die "plain, with 503s: status $status"
logged_alike
has plain.out "requests     planned $TOTAL, sent $TOTAL, completed $TOTAL, errors 0"
has plain.out "status       200: $OK, 503: $BUSY"
has plain.out "failed       $BUSY (status 503: $BUSY; errors 0), ok statuses 2xx,3xx, success ratio"
has plain.out "($OK of $TOTAL)"
has plain.out "verdict      FAILED: no thresholds set: $BUSY of $TOTAL failed, "
has plain.out "rewrites     none: every request sent as the package holds it"
has plain.out "  captured     2026-12-01 "
has plain.json '"errors": {"connect": 0, "tls": 0, "reset": 0, "timeout": 0, "parse": 0, "closed": 0}'
has plain.json "\"success\": {\"ended\": $TOTAL, \"ok\": $OK, \"failed\": $BUSY, \"ratio\": "
has plain.json "\"failed_by_status\": {\"503\": $BUSY}"
# One results line per request sent; the exact percentiles of its latencies
# are the report's within the histogram's error. The pages carry the service
# names of the package's manifest, in the text and the JSON.
python3 - "$WORK/results.jsonl" "$WORK/plain.json" "$TOTAL" "$WORK/pkg/vt_manifest.json" \
  "$WORK/plain.out" <<'PY' || die "results and report disagree"
import json, math, re, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
report = json.load(open(sys.argv[2]))
total = int(sys.argv[3])
names = {str(s["page_id"]): s["name"] for s in json.load(open(sys.argv[4]))["services"]}
assert {p: v["name"] for p, v in report["pages"].items()} == names, names
text = open(sys.argv[5]).read()
for page, name in names.items():
    assert re.search(r"^  %s +[0-9].*  %s$" % (page, re.escape(name)), text, re.M), (page, name)
assert len(lines) == total == report["requests"]["sent"] == report["requests"]["completed"]
lat = sorted(l["latency_ms"] for l in lines if l["status"] is not None)
for key, p in (("p50", 50), ("p90", 90), ("p99", 99), ("max", 100)):
    exact = lat[max(1, math.ceil(p / 100 * len(lat))) - 1]
    got = report["latency_ms"][key]
    assert abs(got - exact) <= exact / 256 + 1e-6, (key, got, exact)
assert abs(report["latency_ms"]["mean"] - sum(lat) / len(lat)) < 1e-5
assert sum(l["bytes_out"] for l in lines) == report["bytes"]["sent"]
assert len(report["package_id"]) == 32, report["package_id"]
PY

# 2. Verified against the test's certificate; HTTP/1.0 requests: one
# connection each, the user's first one a full handshake.
replay verified --target "$TARGET" --cacert "$WORK/cert.pem"
[ $status = 3 ] || die "with --cacert and 503s: status $status"
logged_alike
has verified.out "requests     planned $TOTAL, sent $TOTAL, completed $TOTAL, errors 0"
has verified.out "tls          handshakes $TOTAL, resumed $((TOTAL - USERS)), failed 0; certificate checked for 127.0.0.1"
resumed=$(awk '$6 == "r"' "$LOG" | wc -l)
[ "$resumed" = $((TOTAL - USERS)) ] || die "nginx saw $resumed resumed sessions, not $((TOTAL - USERS))"
grep -q 'sni=- host=127.0.0.1 ' "$LOG" || die "an address went out as SNI"

# 3. Rewrites, checked for the --sni name; a crossed threshold.
replay rewrites --target "$TARGET" --cacert "$WORK/cert.pem" --sni localhost \
  --host staging.example --header 'X-Run: 7' --header 'x-test:' \
  --header 'Content-Type: text/plain; charset=utf-8' --max-failed 0.01 --max-latency p99=60000
[ $status = 3 ] || die "with rewrites and --max-failed 0.01: status $status"
lines=$(grep -c " sni=localhost host=staging.example run=7 conn=- type=text/plain; charset=utf-8$" "$LOG")
[ "$lines" = "$TOTAL" ] || die "nginx logged $lines of $TOTAL requests rewritten: $(head -2 "$LOG")"
# Method, path and Content-Length as the package holds them (the request
# length changed with the head).
awk '{ c[$2 " " $3 " " $4] += $1 } END { for (k in c) print c[k], k }' "$WORK/expected" | sort >"$WORK/expected3"
awk '{ c[$1 " " $2 " " $3]++ } END { for (k in c) print c[k], k }' "$LOG" | sort >"$WORK/actual3"
diff "$WORK/expected3" "$WORK/actual3" >/dev/null || die "rewritten requests differ in path or body length"
has rewrites.out "rewrites     Host: staging.example: replaced in $TOTAL requests, added to 0"
has rewrites.out "X-Run: 7: replaced in 0 requests, added to $TOTAL"
has rewrites.out "x-test: removed from $TOTAL requests"
has rewrites.out "threshold    max-failed 0.01: measured $(awk -v b="$BUSY" -v t="$TOTAL" 'BEGIN { printf "%.4f", b / t }'), CROSSED"
has rewrites.out "threshold    max-latency p99=60000: measured "
has rewrites.out "verdict      FAILED: 1 of 2 thresholds crossed"
has rewrites.json '"passed": false'

stop_nginx
echo "$NAME: $TOTAL requests plain and over TLS, $BUSY answered 503; logged, counted and rewritten as expected"
