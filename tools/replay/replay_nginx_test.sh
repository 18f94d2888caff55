#!/bin/bash
# replay_nginx_test.sh VT_REPLAY VTU_REPLAY_GEN VT_LOGGEN SUITE_BIN: a package against nginx (77: none).
set -u
REPLAY=$1 TOOL=$2 LOGGEN=$3 SUITE_BIN=$4
NAME=replay_nginx_test
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || { echo "$NAME: SKIP: nginx is not installed (scripts/setup.sh installs it)"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_replay_nginx.XXXXXX")
NGINX_PID=
stop_nginx() {
  [ -n "$NGINX_PID" ] && { kill "$NGINX_PID"; wait "$NGINX_PID"; } 2>/dev/null
  NGINX_PID=
}
trap 'stop_nginx; [ "${KEEP_WORK:-0}" = 1 ] && echo "$NAME: kept $WORK" || rm -rf "$WORK"' EXIT
die() {
  echo "$NAME: $*"
  for f in "$WORK"/nginx/error.log "$WORK"/*.out "$WORK"/*.err; do
    [ -s "$f" ] && { echo "--- $f"; tail -20 "$f"; }
  done
  exit 1
}

# A package of three workers from a generated log tree, without keep-alive.
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 2 --requests 200 --customers 30 \
  --services 4 --min-body 100 --max-body 3000 --large-share 0 --bad-share 0 --seed 7 \
  --quiet >/dev/null || die "vt_loggen failed"
mkdir -p "$WORK/wdir/scenarios/t/replay" "$WORK/nginx"
printf '%s\n' "INPUT_DIR|$WORK/logs" "REPLAY_DIR|$WORK/pkg" "SCRIPT_NAME|t/replay/script" \
  "SCENARIO_NAME|t/replay/t.conf" "NUM_VVM|3" "HOST_HEADER|127.0.0.1" "HTTP_HEADER|X-Test: 1" \
  >"$WORK/replay.conf"
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i "$WORK/replay.conf" -n 1 >"$WORK/gen.out" 2>&1 ||
  die "vtu_replay_gen failed: $(tail -3 "$WORK/gen.out")"
# "<method> <path> <Content-Length> <request bytes>" per request, read without vt_replay, counted.
python3 -c 'import glob, re, sys
for index in glob.glob(sys.argv[1] + "/vt_index_*"):
    req = open(index.replace("vt_index_", "vt_req_"), "rb").read()
    for f in (line.split(",") for line in open(index).read().splitlines()[1:]):
        for i in range(2, len(f) - 3, 4):
            off, size = int(f[i + 2]), int(f[i + 3].split("|")[0])
            entry = req[off:off + size]
            method, path = re.match(rb"(\S+) (\S+) HTTP/1\.[01]\r\n", entry).groups()
            length = re.search(rb"\r\nContent-Length: (\d+)\r\n", entry).group(1)
            assert len(entry) == size
            print(method.decode(), path.decode(), length.decode(), size - 1)' "$WORK/pkg" |
  sort | uniq -c >"$WORK/expected" || die "cannot read the package"
TOTAL=$(awk '{ n += $1 } END { print n }' "$WORK/expected")
BUSY=$(awk '$3 == "/svc/Orders.svc" { n += $1 } END { print n + 0 }' "$WORK/expected")
OK=$((TOTAL - BUSY))
USERS=$(cat "$WORK"/pkg/vt_index_* | grep -vc '^#')
[ "$TOTAL" -gt 100 ] && [ "$BUSY" -gt 0 ] || die "the package holds $TOTAL requests, $BUSY to Orders"
# The --speed that plays the whole package in about two seconds.
SPEED=$(awk -F, 'NR > 1 { for (i = 3; i <= NF; i += 4) if ($i + 0 > m) m = $i + 0 }
  END { s = m / 2000; if (s < 1) s = 1; printf "%.3f", s }' "$WORK"/pkg/vt_index_*)
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=localhost -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1 || die "openssl cannot make a certificate"

# nginx on two free ports (a taken one: the next tried), logging each request proxied to /back/.
[ "$(id -u)" = 0 ] && USER_LINE="user root;" || USER_LINE=
PORT=
for try in 1 2 3 4 5 6 7 8; do
  candidate=$((10000 + (RANDOM * 7 + $$ + try * 1013) % 22000))
  cat >"$WORK/nginx/nginx.conf" <<CONF
$USER_LINE
daemon off; worker_processes 1; pid $WORK/nginx/nginx.pid; error_log $WORK/nginx/error.log;
events { worker_connections 4096; }
http {
  client_body_temp_path $WORK/nginx/body; proxy_temp_path $WORK/nginx/proxy;
  fastcgi_temp_path $WORK/nginx/fastcgi; uwsgi_temp_path $WORK/nginx/uwsgi;
  scgi_temp_path $WORK/nginx/scgi; client_max_body_size 10m;
  log_format seen '\$request_method \$request_uri \$content_length \$request_length \$status '
                  '\$ssl_session_reused';
  server {
    listen 127.0.0.1:$candidate;
    listen 127.0.0.1:$((candidate + 1)) ssl;
    ssl_certificate $WORK/cert.pem;
    ssl_certificate_key $WORK/key.pem;
    access_log $WORK/nginx/access.log seen;
    location / { proxy_pass http://127.0.0.1:$candidate/back/; }
    location /back/ { access_log off; return 200 "ok\n"; }
    location = /back/svc/Orders.svc { access_log off; return 503 "busy\n"; }
  }
}
CONF
  "$NGINX" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -e "$WORK/nginx/error.log" &
  NGINX_PID=$!
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null && { PORT=$candidate; break 2; }
    kill -0 "$NGINX_PID" 2>/dev/null || break
    sleep 0.1
  done
  stop_nginx
done
[ -n "$PORT" ] || die "nginx did not start on any of the ports tried"
LOG=$WORK/nginx/access.log

# replay NAME ARGS...: vt_replay into $WORK/NAME.*; nginx's log holds the package, 503 for Orders alone.
replay() {
  local name=$1
  shift
  : >"$LOG"
  timeout 60 "$REPLAY" "$WORK/pkg" --speed "$SPEED" --timeout 3000 --quiet \
    --json "$WORK/$name.json" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  status=$?
  sleep 0.2  # nginx writes the log line after the response
  [ $status = 3 ] || die "$name, with 503s: status $status"
  awk '{ print $1, $2, $3, $4 }' "$LOG" | sort | uniq -c >"$WORK/actual"
  diff "$WORK/expected" "$WORK/actual" >"$WORK/diff" ||
    die "nginx logged other requests than the package holds: $(head -20 "$WORK/diff")"
  awk -v busy="$BUSY" '($5 == 503) != ($2 == "/svc/Orders.svc") { bad = 1 } $5 == 503 { n++ }
    END { exit bad || n != busy }' "$LOG" || die "nginx answered other statuses"
  has "$name.out" "requests     planned $TOTAL, sent $TOTAL, completed $TOTAL, errors 0"
}
has() { grep -qF -- "$2" "$WORK/$1" || die "$1 lacks: $2"; }

replay plain --target "127.0.0.1:$PORT" --html "$WORK/run.html"
has plain.out "status       200: $OK, 503: $BUSY"
has plain.out "rewrites     none: every request sent as the package holds it"
has plain.out "  captured     2026-12-01 "
# The manifest's service names in the text and the JSON.
python3 - "$WORK/plain.json" "$WORK/pkg/vt_manifest.json" "$WORK/plain.out" <<'PY' || die "no manifest names"
import json, re, sys
report = json.load(open(sys.argv[1]))
names = {str(s["page_id"]): s["name"] for s in json.load(open(sys.argv[2]))["services"]}
assert {p: v["name"] for p, v in report["pages"].items()} == names, names
for page, name in names.items():
    assert re.search(r"^  %s +[0-9].*  %s$" % (page, re.escape(name)), open(sys.argv[3]).read(), re.M)
PY

# Verified TLS, a connection per request: each user's first a full handshake.
replay verified --target "https://127.0.0.1:$((PORT + 1))" --cacert "$WORK/cert.pem"
has verified.out "tls          handshakes $TOTAL, resumed $((TOTAL - USERS)), failed 0; certificate checked for 127.0.0.1"
resumed=$(awk '$6 == "r"' "$LOG" | wc -l)
[ "$resumed" = $((TOTAL - USERS)) ] || die "nginx saw $resumed resumed sessions, not $((TOTAL - USERS))"

stop_nginx
echo "$NAME: $TOTAL requests plain and over TLS, $BUSY answered 503; logged and counted as expected"
