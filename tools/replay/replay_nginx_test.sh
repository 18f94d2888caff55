#!/bin/bash
# End to end against a real server: a package from vtu_replay_gen (HTTP/1.0,
# a connection per request) of a vt_loggen tree, sent to nginx on 127.0.0.1,
# plain and over TLS (a certificate made here), which answers 503 for
# /svc/Orders.svc. Its access log must hold exactly the package's requests
# (method, path, Content-Length and length: each entry sent whole), and the
# report count them alike, with the manifest's service names; sessions
# resume after a user's first connection. (Rewrites and SNI: the
# ReplayEngine cases, which see every byte.)
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
                  '$ssl_session_reused';
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
has plain.out "rewrites     none: every request sent as the package holds it"
has plain.out "  captured     2026-12-01 "
has plain.json "\"failed_by_status\": {\"503\": $BUSY}"
# The pages carry the service names of the package's manifest, in the text
# and the JSON; one results line per request.
python3 - "$WORK/plain.json" "$WORK/pkg/vt_manifest.json" "$WORK/plain.out" "$WORK/results.jsonl" \
  "$TOTAL" <<'PY' || die "the report lacks the manifest's names, or results"
import json, re, sys
report = json.load(open(sys.argv[1]))
names = {str(s["page_id"]): s["name"] for s in json.load(open(sys.argv[2]))["services"]}
assert {p: v["name"] for p, v in report["pages"].items()} == names, names
for page, name in names.items():
    assert re.search(r"^  %s +[0-9].*  %s$" % (page, re.escape(name)), open(sys.argv[3]).read(), re.M)
assert len(open(sys.argv[4]).readlines()) == int(sys.argv[5]) == report["requests"]["completed"]
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

stop_nginx
echo "$NAME: $TOTAL requests plain and over TLS, $BUSY answered 503; logged and counted as expected"
