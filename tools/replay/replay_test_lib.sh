# Shell helpers of the end-to-end tests of vt_replay against nginx. A test
# sets WORK (its temporary directory) and NAME (its name in messages) first.

NGINX=$(command -v nginx || echo /usr/sbin/nginx)
NGINX_PID=

stop_nginx() {
  [ -n "$NGINX_PID" ] && { kill "$NGINX_PID"; wait "$NGINX_PID"; } 2>/dev/null
  NGINX_PID=
}

cleanup() {
  stop_nginx
  [ "${KEEP_WORK:-0}" = 1 ] && echo "$NAME: kept $WORK" || rm -rf "$WORK"
}

die() {
  echo "$NAME: $*"
  for f in "$WORK"/nginx/error.log "$WORK"/replay.out "$WORK"/replay.err; do
    [ -s "$f" ] && { echo "--- $f"; tail -20 "$f"; }
  done
  exit 1
}

skip_without_nginx() {
  [ -x "$NGINX" ] && return
  echo "$NAME: SKIP: nginx is not installed (scripts/setup.sh installs it)"
  exit 77
}

# make_package TOOL LOGGEN SUITE_BIN REQUESTS [HEADER]: a package of three
# workers in $WORK/pkg from a generated log tree; bodies of 100 to 3000
# bytes, HTTP/1.0 request lines with HEADER (default "Connection:
# keep-alive").
make_package() {
  local tool=$1 loggen=$2 suite_bin=$3 requests=$4 header=${5:-Connection: keep-alive}
  "$loggen" --out "$WORK/logs" --days 1 --files-per-day 2 --requests "$requests" --customers 30 \
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
HTTP_HEADER|$header
CONF
  VT_WDIR=$WORK/wdir PATH=$suite_bin:$PATH "$tool" -i "$WORK/replay.conf" -n 1 >"$WORK/gen.out" 2>&1 ||
    die "vtu_replay_gen failed: $(tail -3 "$WORK/gen.out")"
}

# What the package holds, read from its files independently of vt_replay:
# "<method> <path> <Content-Length> <request bytes>" per request, counted.
package_listing() {
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
    }' "$WORK/pkg" | sort | uniq -c
}

# The --speed that plays the whole package in about two seconds.
two_second_speed() {
  local last
  last=$(awk -F, 'NR > 1 { for (i = 3; i <= NF; i += 4) if ($i + 0 > m) m = $i + 0 } END { print m }' \
    "$WORK"/pkg/vt_index_*)
  awk -v l="$last" 'BEGIN { s = l / 2000; if (s < 1) s = 1; printf "%.3f", s }'
}

# start_nginx SERVERS_FILE: nginx on a free port of 127.0.0.1 run from
# $WORK/nginx, with the server blocks of SERVERS_FILE, in which @PORT@ and
# @PORT2@ stand for two free ports. A taken port shows as a bind failure, and
# the next candidates are tried. Sets PORT and PORT2.
start_nginx() {
  local servers=$1 user_line="" candidate
  mkdir -p "$WORK/nginx"
  [ "$(id -u)" = 0 ] && user_line="user root;"
  PORT=
  for try in 1 2 3 4 5 6 7 8; do
    # Below the ephemeral range (32768 up), where client sockets hold ports.
    candidate=$((10000 + (RANDOM * 7 + $$ + try * 1013) % 22000))
    {
      cat <<CONF
$user_line
daemon off;
worker_processes 1;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log;
events { worker_connections 4096; }
http {
  client_body_temp_path $WORK/nginx/body;
  proxy_temp_path $WORK/nginx/proxy;
  fastcgi_temp_path $WORK/nginx/fastcgi;
  uwsgi_temp_path $WORK/nginx/uwsgi;
  scgi_temp_path $WORK/nginx/scgi;
  client_max_body_size 10m;
CONF
      sed -e "s/@PORT@/$candidate/g" -e "s/@PORT2@/$((candidate + 1))/g" -e "s#@WORK@#$WORK#g" "$servers"
      echo "}"
    } >"$WORK/nginx/nginx.conf"
    "$NGINX" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" -e "$WORK/nginx/error.log" &
    NGINX_PID=$!
    for _ in $(seq 50); do
      if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
        PORT=$candidate
        PORT2=$((candidate + 1))
        return 0
      fi
      kill -0 "$NGINX_PID" 2>/dev/null || break
      sleep 0.1
    done
    stop_nginx
  done
  die "nginx did not start on any of the ports tried"
}
