#!/bin/bash
# vt_replay against nginx over HTTPS on 127.0.0.1, with a self-signed
# certificate made here for localhost and 127.0.0.1:
#   1. --cacert: every request of the package arrives once (access-log counts
#      per method, path, Content-Length and request length), the answers of
#      one path, 503 from nginx, are counted failed and fail the run without a
#      threshold (status 3); every connection after a user's first resumes its
#      session.
#   2. rewrites: nginx logs the replaced Host, the added header, the replaced
#      Content-Type and the removed X-Test header; SNI is the --sni name;
#      --max-failed crossed gives status 3 and names it in the report.
# (Certificates refused, --insecure: ReplayEngine and ReplayProgram cases.)
#
#   replay_tls_nginx_test.sh VT_REPLAY VTU_REPLAY_GEN VT_LOGGEN SUITE_BIN
#
# Exit status 77 (a skip for CTest) when nginx is not installed.
set -u
REPLAY=$1 TOOL=$2 LOGGEN=$3 SUITE_BIN=$4
NAME=replay_tls_nginx_test
. "$(dirname "$0")/replay_test_lib.sh"
skip_without_nginx
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_replay_tls.XXXXXX")
trap cleanup EXIT

make_package "$TOOL" "$LOGGEN" "$SUITE_BIN" 200 "X-Test: 1"  # no keep-alive
package_listing >"$WORK/expected" || die "cannot read the package"
TOTAL=$(awk '{ n += $1 } END { print n }' "$WORK/expected")
BUSY=$(awk '$3 == "/svc/Orders.svc" { n += $1 } END { print n + 0 }' "$WORK/expected")
USERS=$(cat "$WORK"/pkg/vt_index_* | grep -vc '^#')
[ "$TOTAL" -gt 100 ] && [ "$BUSY" -gt 0 ] || die "the package holds $TOTAL requests, $BUSY to Orders"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=localhost -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1 || die "openssl cannot make a certificate"

# The TLS server logs what arrived; it proxies each request to a plain
# server, so that the body is read whole ($request_length counts it), which
# answers 503 for /svc/Orders.svc and 200 for the rest.
cat >"$WORK/servers" <<'CONF'
  log_format seen '$request_method $request_uri $content_length $request_length $status '
                  '$ssl_session_reused sni=$ssl_server_name host=$http_host '
                  'run=$http_x_run conn=$http_connection type=$content_type';
  server {
    listen 127.0.0.1:@PORT@ ssl;
    ssl_certificate @WORK@/cert.pem;
    ssl_certificate_key @WORK@/key.pem;
    access_log @WORK@/nginx/access.log seen;
    location / { proxy_pass http://127.0.0.1:@PORT2@; }
  }
  server {
    listen 127.0.0.1:@PORT2@;
    access_log off;
    location / { return 200 "ok\n"; }
    location = /svc/Orders.svc { return 503 "busy\n"; }
  }
CONF
start_nginx "$WORK/servers"
SPEED=$(two_second_speed)
TARGET=https://127.0.0.1:$PORT

# replay NAME ARGS...: runs vt_replay on the package; its status in $status,
# its outputs in $WORK/NAME.out, .err and .json.
replay() {
  local name=$1
  shift
  : >"$WORK/nginx/access.log"
  timeout 60 "$REPLAY" "$WORK/pkg" --speed "$SPEED" --timeout 3000 --quiet \
    --json "$WORK/$name.json" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  status=$?
  cp "$WORK/$name.out" "$WORK/replay.out"
  cp "$WORK/$name.err" "$WORK/replay.err"
  sleep 0.2  # nginx writes the log line after the response
}
has() { grep -qF -- "$2" "$WORK/$1" || die "$1 lacks: $2"; }

# 1. Verified against the test's certificate.
replay verified --target "$TARGET" --cacert "$WORK/cert.pem"
[ $status = 3 ] || die "with --cacert and 503s: status $status"
awk '{ print $1, $2, $3, $4 }' "$WORK/nginx/access.log" | sort | uniq -c >"$WORK/actual"
diff "$WORK/expected" "$WORK/actual" >"$WORK/diff" ||
  die "nginx logged other requests than the package holds: $(head -20 "$WORK/diff")"
awk -v busy="$BUSY" '($5 == 503) != ($2 == "/svc/Orders.svc") { bad = 1 } $5 == 503 { n++ }
  END { exit bad || n != busy }' "$WORK/nginx/access.log" || die "nginx answered other statuses"
OK=$((TOTAL - BUSY))
has verified.out "requests     planned $TOTAL, sent $TOTAL, completed $TOTAL, errors 0"
has verified.out "status       200: $OK, 503: $BUSY"
has verified.out "failed       $BUSY (status 503: $BUSY; errors 0), ok statuses 2xx,3xx, success ratio"
has verified.out "($OK of $TOTAL)"
has verified.out "verdict      FAILED: no thresholds set: $BUSY of $TOTAL failed, "
# HTTP/1.0 requests: one connection each, the user's first one a full handshake.
has verified.out "tls          handshakes $TOTAL, resumed $((TOTAL - USERS)), failed 0; certificate checked for 127.0.0.1"
has verified.json "\"success\": {\"ended\": $TOTAL, \"ok\": $OK, \"failed\": $BUSY, \"ratio\": "
has verified.json "\"failed_by_status\": {\"503\": $BUSY}"
resumed=$(awk '$6 == "r"' "$WORK/nginx/access.log" | wc -l)
[ "$resumed" = $((TOTAL - USERS)) ] || die "nginx saw $resumed resumed sessions, not $((TOTAL - USERS))"
grep -q 'sni=- host=127.0.0.1 ' "$WORK/nginx/access.log" || die "an address went out as SNI"

# 2. Rewrites, checked for the --sni name; a crossed threshold.
replay rewrites --target "$TARGET" --cacert "$WORK/cert.pem" --sni localhost \
  --host staging.example --header 'X-Run: 7' --header 'x-test:' \
  --header 'Content-Type: text/plain; charset=utf-8' --max-failed 0.01 --max-latency p99=60000
[ $status = 3 ] || die "with rewrites and --max-failed 0.01: status $status"
lines=$(grep -c " sni=localhost host=staging.example run=7 conn=- type=text/plain; charset=utf-8$" \
  "$WORK/nginx/access.log")
[ "$lines" = "$TOTAL" ] || die "nginx logged $lines of $TOTAL requests rewritten: $(head -2 "$WORK/nginx/access.log")"
# Method, path and Content-Length as the package holds them (the request
# length changed with the head).
awk '{ c[$2 " " $3 " " $4] += $1 } END { for (k in c) print c[k], k }' "$WORK/expected" |
  sort >"$WORK/expected3"
awk '{ c[$1 " " $2 " " $3]++ } END { for (k in c) print c[k], k }' "$WORK/nginx/access.log" |
  sort >"$WORK/actual3"
diff "$WORK/expected3" "$WORK/actual3" >/dev/null || die "rewritten requests differ in path or body length"
has rewrites.out "rewrites     Host: staging.example: replaced in $TOTAL requests, added to 0"
has rewrites.out "X-Run: 7: replaced in 0 requests, added to $TOTAL"
has rewrites.out "x-test: removed from $TOTAL requests"
has rewrites.out "threshold    max-failed 0.01: measured $(awk -v b="$BUSY" -v t="$TOTAL" 'BEGIN { printf "%.4f", b / t }'), CROSSED"
has rewrites.out "threshold    max-latency p99=60000: measured "
has rewrites.out "verdict      FAILED: 1 of 2 thresholds crossed"
has rewrites.json '"passed": false'

echo "$NAME: $TOTAL requests over TLS, $BUSY answered 503; verified and rewritten as expected"
