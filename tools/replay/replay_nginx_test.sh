#!/bin/bash
# End to end against a real server: a log tree from vt_loggen, a package from
# vtu_replay_gen, nginx on a free port of 127.0.0.1 run from a temporary
# prefix, and vt_replay sending the package to it. nginx's access log must
# hold exactly the package's requests (method, path, Content-Length, and the
# request's length, which shows that the bytes of each entry were sent
# whole), and the report must count them alike.
#
#   replay_nginx_test.sh VT_REPLAY VTU_REPLAY_GEN VT_LOGGEN SUITE_BIN
#
# Exit status 77 (a skip for CTest) when nginx is not installed.
set -u
REPLAY=$1 TOOL=$2 LOGGEN=$3 SUITE_BIN=$4
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
if [ ! -x "$NGINX" ]; then
  echo "replay_nginx_test: SKIP: nginx is not installed (scripts/setup.sh installs it)"
  exit 77
fi
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_replay_nginx.XXXXXX")
NGINX_PID=
cleanup() {
  if [ -n "$NGINX_PID" ]; then
    kill "$NGINX_PID" 2>/dev/null
    wait "$NGINX_PID" 2>/dev/null
  fi
  [ "${KEEP_WORK:-0}" = 1 ] && echo "replay_nginx_test: kept $WORK" || rm -rf "$WORK"
}
trap cleanup EXIT
die() {
  echo "replay_nginx_test: $*"
  for f in "$WORK"/nginx/error.log "$WORK"/replay.out "$WORK"/replay.err; do
    [ -s "$f" ] && { echo "--- $f"; tail -20 "$f"; }
  done
  exit 1
}

# The package: three workers, a few dozen users, bodies of 100 to 3000 bytes.
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 2 --requests 400 --customers 30 \
  --services 4 --min-body 100 --max-body 3000 --large-share 0 --bad-share 0 --seed 7 \
  --quiet >/dev/null || die "vt_loggen failed"
mkdir -p "$WORK/wdir/scenarios/t/replay"
cat >"$WORK/replay.conf" <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/pkg
SCRIPT_NAME|t/replay/script
SCENARIO_NAME|t/replay/t.conf
NUM_VVM|3
HOST_HEADER|127.0.0.1
HTTP_HEADER|Connection: keep-alive
CONF
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i "$WORK/replay.conf" -n 1 >"$WORK/gen.out" 2>&1 ||
  die "vtu_replay_gen failed: $(tail -3 "$WORK/gen.out")"

# What the package holds, read from its files independently of vt_replay:
# "<method> <path> <Content-Length> <request bytes>" per request.
perl -e '
  my $dir = shift;
  for (my $w = 0; -e "$dir/vt_index_$w"; $w++) {
    open(my $idx, "<", "$dir/vt_index_$w") or die;
    open(my $req, "<:raw", "$dir/vt_req_$w") or die;
    <$idx>;
    while (my $line = <$idx>) {
      chomp $line;
      my @f = split /,/, $line;
      for (my $i = 2; $i + 3 < @f; $i += 4) {
        my ($off, $size) = ($f[$i + 2], $f[$i + 3]);
        $size =~ s/\|.*//;
        seek($req, $off, 0);
        read($req, my $entry, $size) == $size or die "short entry";
        my ($method, $path) = $entry =~ /^(\S+) (\S+) HTTP\/1\.[01]\r\n/ or die "request line";
        my ($length) = $entry =~ /\r\nContent-Length: (\d+)\r\n/ or die "length";
        print "$method $path $length ", $size - 1, "\n";
      }
    }
  }' "$WORK/pkg" | sort | uniq -c >"$WORK/expected" || die "cannot read the package"
TOTAL=$(awk '{ n += $1 } END { print n }' "$WORK/expected")
[ "$TOTAL" -gt 100 ] || die "the package holds only $TOTAL requests"

# nginx on a free port: a taken port shows as a bind failure, and the next
# candidate is tried.
mkdir -p "$WORK/nginx"
USER_LINE=""
[ "$(id -u)" = 0 ] && USER_LINE="user root;"
PORT=
for try in 1 2 3 4 5 6 7 8; do
  # Below the ephemeral range (32768 up), where client sockets hold ports.
  candidate=$((10000 + (RANDOM * 7 + $$ + try * 1013) % 22000))
  cat >"$WORK/nginx/nginx.conf" <<CONF
$USER_LINE
daemon off;
worker_processes 1;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log;
events { worker_connections 4096; }
http {
  log_format counts '\$request_method \$request_uri \$content_length \$request_length \$status';
  access_log $WORK/nginx/access.log counts;
  client_body_temp_path $WORK/nginx/body;
  proxy_temp_path $WORK/nginx/proxy;
  fastcgi_temp_path $WORK/nginx/fastcgi;
  uwsgi_temp_path $WORK/nginx/uwsgi;
  scgi_temp_path $WORK/nginx/scgi;
  server {
    listen 127.0.0.1:$candidate;
    client_max_body_size 10m;
    # Proxying reads each body whole, so that \$request_length counts it; the
    # proxied copy lands on /ok, which answers and logs nothing.
    location / {
      rewrite ^ /ok break;
      proxy_pass http://127.0.0.1:$candidate;
    }
    location = /ok { access_log off; return 200 "ok\n"; }
  }
}
CONF
  "$NGINX" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -e "$WORK/nginx/error.log" &
  NGINX_PID=$!
  for _ in $(seq 50); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
      PORT=$candidate
      break 2
    fi
    kill -0 "$NGINX_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$NGINX_PID" 2>/dev/null
  wait "$NGINX_PID" 2>/dev/null
  NGINX_PID=
done
[ -n "$PORT" ] || die "nginx did not start on any of the ports tried"
: >"$WORK/nginx/access.log"  # the readiness probe sent no request, but be sure

# The whole day in about two seconds.
LAST=$(awk -F, 'NR > 1 { for (i = 3; i <= NF; i += 4) if ($i + 0 > m) m = $i + 0 } END { print m }' \
  "$WORK"/pkg/vt_index_*)
SPEED=$(awk -v l="$LAST" 'BEGIN { s = l / 2000; if (s < 1) s = 1; printf "%.3f", s }')
timeout 60 "$REPLAY" "$WORK/pkg" --target "127.0.0.1:$PORT" --speed "$SPEED" --timeout 3000 \
  --json "$WORK/report.json" --quiet >"$WORK/replay.out" 2>"$WORK/replay.err"
status=$?
[ $status = 0 ] || die "vt_replay exited with status $status"
sleep 0.2  # nginx writes the log line after the response
kill "$NGINX_PID"
wait "$NGINX_PID" 2>/dev/null
NGINX_PID=

awk '$5 != 200 { print "status " $5 " for " $0; bad = 1 } END { exit bad }' "$WORK/nginx/access.log" ||
  die "nginx answered other than 200"
awk '{ print $1, $2, $3, $4 }' "$WORK/nginx/access.log" | sort | uniq -c >"$WORK/actual"
diff "$WORK/expected" "$WORK/actual" >"$WORK/diff" ||
  die "nginx logged other requests than the package holds: $(head -20 "$WORK/diff")"

json() { sed -n "s/.*\"$1\": \([0-9]*\).*/\1/p" "$WORK/report.json" | head -1; }
for key in planned sent completed; do
  [ "$(json "$key")" = "$TOTAL" ] || die "report: $key $(json "$key"), package $TOTAL"
done
grep -q "\"status\": {\"200\": $TOTAL}" "$WORK/report.json" || die "report: status counts differ"
grep -q '"errors": {"connect": 0, "reset": 0, "timeout": 0, "parse": 0}' "$WORK/report.json" ||
  die "report: errors"
grep -q "requests     planned $TOTAL, sent $TOTAL, completed $TOTAL, errors 0" "$WORK/replay.out" ||
  die "text report differs"
echo "replay_nginx_test: $TOTAL requests replayed and logged alike"
