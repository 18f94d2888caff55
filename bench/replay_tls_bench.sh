#!/bin/bash
# Benchmark of vt_replay over HTTPS against nginx with TLS on 127.0.0.1 (a
# self-signed certificate made here with openssl), with wrk over HTTPS beside
# it in the same run.
#
#   bench/replay_tls_bench.sh   (environment: USERS=500 BODY=600 RUNS=3 WRK_SECONDS=10
#                                LAG_SECONDS=60 PARTS="lag search memory")
#
# Packages are synthetic: USERS users on 4 workers, each posting a BODY-byte
# body at a steady pace, HTTP/1.1 keep-alive, so that each user holds one TLS
# connection. Printed, in the same run:
#   1. vt_replay at 2,000 requests/s for LAG_SECONDS over HTTPS and, as the
#      baseline, over plain HTTP to the same nginx (RUNS times, the median,
#      interleaved with wrk): lag p50/p99/max, handshakes, once from 100
#      users and once from USERS users, whose full handshakes all fall in the
#      first quarter second.
#   2. wrk -t1 -cUSERS over HTTPS posting the same bodies for WRK_SECONDS
#      (RUNS times, the median), and vt_replay (one thread) for as long
#      (--duration) at rising rates until the achieved rate falls more than
#      3% short of the planned one or a request fails: the highest rate held,
#      and its ratio to wrk's. Both open their USERS connections, with their
#      full handshakes, at the start.
#   3. memory: peak RSS of vt_replay for 25,000 and 100,000 requests with the
#      same USERS users (flat in the package size), and for USERS and 4 x USERS
#      users, at full speed (all handshakes at once) and at a tenth of it for
#      8 s (the difference over the extra connections: bytes per TLS
#      connection, at the peak of a burst of handshakes and held while idle).
# PARTS chooses among the three. The load average before and after says how
# busy the shared machine was.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
USERS=${USERS:-500}
BODY=${BODY:-600}
RUNS=${RUNS:-3}
WRK_SECONDS=${WRK_SECONDS:-10}
LAG_SECONDS=${LAG_SECONDS:-60}
PARTS=${PARTS:-lag search memory}
part() { [[ " $PARTS " == *" $1 "* ]]; }
BENCH_DIR=${BENCH_DIR:-$ROOT/build/bench_replay_tls}
REPLAY=$ROOT/build/release/tools/replay/vt_replay

scripts/setup.sh
for tool in wrk:wrk /usr/bin/time:time; do
  command -v "${tool%%:*}" >/dev/null || { apt-get update -qq && apt-get install -y -qq "${tool##*:}" >/dev/null; }
done
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j 2 --target vt_replay >/dev/null

rm -rf "$BENCH_DIR"
mkdir -p "$BENCH_DIR/nginx"
NGINX_PID=
cleanup() {
  if [ -n "$NGINX_PID" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
  fi
}
trap cleanup EXIT
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)

# make_package DIR USERS RATE SECONDS: USERS users dealt to 4 workers, RATE
# requests per second in all, their phases spread evenly, for SECONDS.
make_package() {
  mkdir -p "$1"
  perl -e '
    my ($dir, $users, $body, $rate, $span_ms) = @ARGV;
    my $interval = $users * 1000 / $rate;  # ms between two requests of a user
    my $entry = "POST /svc/bench HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n" .
                "Content-Length: $body\r\n\r\n" . ("x" x $body) . "\n";
    my $size = length $entry;
    for my $w (0 .. 3) {
      open(my $idx, ">", "$dir/vt_index_$w") or die;
      open(my $req, ">", "$dir/vt_req_$w") or die;
      print $idx "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, ...\n";
      my $off = 0;
      for (my $u = $w; $u < $users; $u += 4) {
        my $line = sprintf("%09d,vt_req_%d", $u + 1, $w);
        for (my $t = int($u * $interval / $users); $t < $span_ms; $t += $interval) {
          $line .= "," . int($t) . ",0,$off,$size";
          print $req $entry;
          $off += $size;
        }
        print $idx "$line\n";
      }
    }' "$1" "$2" "$BODY" "$3" $(($4 * 1000))
}
make_package "$BENCH_DIR/pkg" "$USERS" 5000 60
make_package "$BENCH_DIR/pkg2000" "$USERS" 2000 "$LAG_SECONDS"
make_package "$BENCH_DIR/pkg2000_u100" 100 2000 "$LAG_SECONDS"
make_package "$BENCH_DIR/mem_small" "$USERS" 5000 5
make_package "$BENCH_DIR/mem_large" "$USERS" 5000 20
make_package "$BENCH_DIR/mem_users" $((USERS * 4)) 5000 5

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=localhost -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
  -keyout "$BENCH_DIR/key.pem" -out "$BENCH_DIR/cert.pem" >/dev/null 2>&1

# nginx: one worker, TLS, answering every POST with a short body.
USER_LINE=""
[ "$(id -u)" = 0 ] && USER_LINE="user root;"
PORT=
for try in 1 2 3 4 5 6; do
  # Below the ephemeral range (32768 up), where client sockets hold ports.
  candidate=$((10000 + (RANDOM * 7 + $$ + try * 1013) % 22000))
  cat >"$BENCH_DIR/nginx/nginx.conf" <<CONF
$USER_LINE
daemon off;
worker_processes 1;
pid $BENCH_DIR/nginx/nginx.pid;
error_log $BENCH_DIR/nginx/error.log;
worker_rlimit_nofile 20000;
events { worker_connections 8192; }
http {
  access_log off;
  keepalive_requests 100000000;
  keepalive_timeout 300s;
  client_body_temp_path $BENCH_DIR/nginx/body;
  proxy_temp_path $BENCH_DIR/nginx/proxy;
  fastcgi_temp_path $BENCH_DIR/nginx/fastcgi;
  uwsgi_temp_path $BENCH_DIR/nginx/uwsgi;
  scgi_temp_path $BENCH_DIR/nginx/scgi;
  server {
    listen 127.0.0.1:$candidate ssl backlog=4096;
    listen 127.0.0.1:$((candidate + 1)) backlog=4096;
    ssl_certificate $BENCH_DIR/cert.pem;
    ssl_certificate_key $BENCH_DIR/key.pem;
    location / { return 200 "ok\n"; }
  }
}
CONF
  /usr/sbin/nginx -p "$BENCH_DIR/nginx" -c "$BENCH_DIR/nginx/nginx.conf" -e "$BENCH_DIR/nginx/error.log" &
  NGINX_PID=$!
  for _ in $(seq 50); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
      PORT=$candidate
      break 2
    fi
    kill -0 "$NGINX_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$NGINX_PID" 2>/dev/null || true
  wait "$NGINX_PID" 2>/dev/null || true
  NGINX_PID=
done
[ -n "$PORT" ] || { echo "replay_tls_bench: nginx did not start"; exit 1; }
ulimit -n 65536 2>/dev/null || true
NGINX_WORKER=$(pgrep -P "$NGINX_PID" | head -1)
nginx_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$NGINX_WORKER/stat"; }

jnum() { sed -n "s/.*\"$2\": {\([^}]*\)}.*/\1/p" "$1" | sed -n "s/.*\"$3\": \([0-9.]*\).*/\1/p" | head -1; }
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
col() { printf '%s' "$1" | awk -v c="$2" '{ print $c }' | median; }

# run_replay PKG SPEED [http|https [OPTION...]]; prints "planned achieved lag_p50 lag_p99
# lag_max failed cpu% rss_kb handshakes resumed hs_p99 nginx_cpu%"; over HTTPS, or plain
# HTTP to the other port.
run_replay() {
  local pkg=$1 speed=$2 out n0 target=(--target "https://127.0.0.1:$PORT" --cacert "$BENCH_DIR/cert.pem")
  [ "${3:-}" = http ] && target=(--target "http://127.0.0.1:$((PORT + 1))")
  local more=("${@:4}")
  out=$BENCH_DIR/replay_$BASHPID.json  # each run in a subshell of its own
  rm -f "$out"
  n0=$(nginx_cpu)
  /usr/bin/time -f '%e %U %S %M' -o "$BENCH_DIR/time" "$REPLAY" "$pkg" "${target[@]}" \
    --speed "$speed" --timeout 5000 --quiet --json "$out" "${more[@]}" >"${out%.json}.txt" || true
  read -r wall user sys rss <"$BENCH_DIR/time"
  local failed handshakes resumed
  failed=$(sed -n 's/.*"requests": {[^}]*"failed": \([0-9]*\)}.*/\1/p' "$out")
  handshakes=$(sed -n 's/.*"tls": {"handshakes": \([0-9]*\),.*/\1/p' "$out")
  resumed=$(sed -n 's/.*"tls": {.*"resumed": \([0-9]*\),.*/\1/p' "$out")
  [ -n "$handshakes" ] || handshakes=- resumed=-
  echo "$(jnum "$out" rate planned_per_s) $(jnum "$out" rate achieved_per_s)" \
    "$(jnum "$out" lag_ms p50) $(jnum "$out" lag_ms p99) $(jnum "$out" lag_ms max) $failed" \
    "$(calc "($user + $sys) / $wall * 100") $rss $handshakes $resumed" \
    "$(jnum "$out" handshake_ms p99 | grep . || echo 0) $(calc "($(nginx_cpu) - $n0) / $wall * 100")"
}

cat >"$BENCH_DIR/post.lua" <<LUA
wrk.method = "POST"
wrk.body = string.rep("x", $BODY)
wrk.headers["Content-Type"] = "text/xml"
LUA
run_wrk() {  # prints "rate cpu% nginx_cpu%"
  local n0
  n0=$(nginx_cpu)
  /usr/bin/time -f '%e %U %S' -o "$BENCH_DIR/time" wrk -t1 -c"$USERS" -d"${WRK_SECONDS}s" \
    -s "$BENCH_DIR/post.lua" "https://127.0.0.1:$PORT/svc/bench" >"$BENCH_DIR/wrk.txt"
  read -r wall user sys <"$BENCH_DIR/time"
  echo "$(sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' "$BENCH_DIR/wrk.txt")" \
    "$(calc "($user + $sys) / $wall * 100") $(calc "($(nginx_cpu) - $n0) / $wall * 100")"
}

row() {  # row LABEL planned achieved p50 p99 max failed cpu rss hs resumed hs_p99 nginx
  printf '%-26s %9.0f %9.0f %8.3f %8.3f %8.3f %6s %5.0f%% %7.1f %6s %6s %7.3f %5.0f%%\n' "$1" "$2" "$3" \
    "$4" "$5" "$6" "$7" "$8" "$(calc "$9 / 1024")" "${10}" "${11}" "${12}" "${13}"
}
header() {
  printf '%-26s %9s %9s %8s %8s %8s %6s %6s %7s %6s %6s %7s %6s\n' run planned/s achieved/s lag_p50 \
    lag_p99 lag_max failed cpu rss_MB hs resumed hs_p99 nginx
}

echo "replay_tls_bench: $USERS users, $BODY-byte bodies, HTTPS (TLS 1.3, P-256 certificate)" \
  "to nginx on 127.0.0.1:$PORT; $(nproc) cores; load average before: $LOAD_BEFORE"

# 1. The 2,000/s runs, rounds interleaved with wrk.
declare -A rows
lag_keys=()
part lag && lag_keys=(u100 u100http r2000 r2000http)
for round in $(seq "$RUNS"); do
  part search && rows[wrk]+="$(run_wrk)"$'\n'
  for k in "${lag_keys[@]}"; do
    pkg=$BENCH_DIR/pkg2000
    [[ $k == u100* ]] && pkg=$BENCH_DIR/pkg2000_u100
    rows[$k]+="$(run_replay "$pkg" 1 "$([[ $k == *http ]] && echo http || echo https)")"$'\n'
  done
done
echo
header
for k in "${lag_keys[@]}"; do
  case $k in
    u100) label="https 2,000/s 100 users" ;;
    u100http) label="http 2,000/s 100 users" ;;
    r2000) label="https 2,000/s $USERS users" ;;
    *) label="http 2,000/s $USERS users" ;;
  esac
  row "$label" $(for c in $(seq 12); do col "${rows[$k]}" "$c"; done)
  printf '%s' "${rows[$k]}" | while read -r line; do
    row "  one run" $line
  done
done
BEST=0 BEST_CPU=1 WRK=0
part search && WRK=$(col "${rows[wrk]}" 1) &&
  printf '%-26s %9s %9.0f %8s %8s %8s %6s %5.0f%% %7s %6s %6s %7s %5.0f%%\n' "wrk -t1 -c$USERS (median)" - \
    "$WRK" - - - - "$(col "${rows[wrk]}" 2)" - - - - "$(col "${rows[wrk]}" 3)"
part search && for speed in 1 1.25 1.5 1.75 2 2.5 3 3.5 4 5 6 8 10 12 16; do
  read -r planned achieved p50 p99 max failed cpu rss hs resumed hsp99 ncpu \
    < <(run_replay "$BENCH_DIR/pkg" "$speed" https --duration "$WRK_SECONDS")
  row "vt_replay speed $speed" "$planned" "$achieved" "$p50" "$p99" "$max" "$failed" "$cpu" "$rss" \
    "$hs" "$resumed" "$hsp99" "$ncpu"
  if [ "$failed" != 0 ] || awk -v a="$achieved" -v p="$planned" 'BEGIN { exit !(a < 0.97 * p) }'; then
    break
  fi
  BEST=$achieved BEST_CPU=$cpu
done
# wrk once more right after the search: the shared machine's load moves, and
# the nearer figure is the fairer one.
if part search; then
  read -r WRK_AFTER WRK_AFTER_CPU _ < <(run_wrk)
  printf '%-26s %9s %9.0f %8s %8s %8s %6s %5.0f%%\n' "wrk -t1 -c$USERS (after)" - "$WRK_AFTER" - - - - \
    "$WRK_AFTER_CPU"
fi

# 3. Memory.
mem_run() {  # mem_run NAME PKG SPEED OPTION...
  local name=$1 pkg=$2 planned achieved p50 p99 max failed cpu rss hs resumed hsp99 ncpu
  read -r planned achieved p50 p99 max failed cpu rss hs resumed hsp99 ncpu \
    < <(run_replay "$BENCH_DIR/$pkg" "$3" https --timeout 30000 "${@:4}")
  local requests users mb
  requests=$(awk -F, 'FNR > 1 { n += (NF - 2) / 4 } END { print n }' "$BENCH_DIR/$pkg"/vt_index_*)
  users=$(cat "$BENCH_DIR/$pkg"/vt_index_* | grep -vc '^#')
  mb=$(stat -c %s "$BENCH_DIR/$pkg"/vt_req_* | awk '{ s += $1 } END { printf "%.1f", s / 1048576 }')
  eval "RSS_$name=$rss"
  printf 'memory %-11s %7s requests (%5s MB) of %4s users at speed %-4s peak RSS %6.2f MB (%s failed, %s handshakes, achieved %.0f/s)\n' \
    "$name:" "$requests" "$mb" "$users" "$3:" "$(calc "$rss / 1024")" "$failed" "$hs" "$achieved"
}
if part memory; then
  echo
  mem_run small mem_small 1
  mem_run large mem_large 1
  mem_run users mem_users 1
  mem_run small_slow mem_small 0.1 --duration 8
  mem_run users_slow mem_users 0.1 --duration 8
fi
echo
if part search; then
  echo "vt_replay over HTTPS: highest rate sustained $(calc "$BEST") req/s; wrk -t1 -c$USERS $(calc "$WRK")" \
    "req/s before the search, $(calc "$WRK_AFTER") after; wrk / vt_replay $(calc "$WRK / ($BEST + 0.000001)")" \
    "and $(calc "$WRK_AFTER / ($BEST + 0.000001)") (goal: at most 1.5)"
  WRK_CPU=$(col "${rows[wrk]}" 2)
  echo "requests per second of client CPU: vt_replay $(calc "$BEST / $BEST_CPU * 100")," \
    "wrk $(calc "$WRK / $WRK_CPU * 100") before and $(calc "$WRK_AFTER / $WRK_AFTER_CPU * 100") after"
fi
part memory &&
  echo "memory: 4x the requests: peak RSS x$(calc "$RSS_large / $RSS_small");" \
    "4x the users: $(calc "($RSS_users - $RSS_small) * 1024 / ($USERS * 3)") bytes per extra TLS connection" \
    "at full speed, $(calc "($RSS_users_slow - $RSS_small_slow) * 1024 / ($USERS * 3)") at a tenth"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
