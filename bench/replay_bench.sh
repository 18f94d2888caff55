#!/bin/bash
# Benchmark of vt_replay against nginx on the loopback interface, with wrk,
# a plain load generator, beside it in the same run.
#
#   bench/replay_bench.sh     (environment: USERS=500 BODY=600 SPAN=10 RUNS=3)
#
# A synthetic package of USERS users, each sending a BODY-byte POST every
# USERS/5000 seconds (5,000 requests per second in all) for SPAN seconds, is
# replayed by vt_replay at --speed 1 (5,000/s) and 4 (20,000/s), in RUNS
# rounds interleaved with wrk posting bodies of the same size over as many
# keep-alive connections for WRK_SECONDS (default 5), with one thread and
# with two. Then vt_replay runs at rising speeds until the achieved rate
# falls more than 3% short of the planned one or a request fails: the
# highest rate held is the maximum sustained.
# Printed: planned and achieved rates, schedule lag p50/p99/max, the CPU
# share of one core taken by the client and by the nginx worker, the
# client's peak RSS, and the ratio of vt_replay's maximum to wrk's rate.
# Figures are only comparable within one run: the machine is shared.
#
# PARTS (default "base search") chooses what runs: "base" the rounds above,
# "lag" RUNS runs at LAG_SPEED (default 10, 50,000/s) and their medians,
# "search" the highest rate held, "outputs" the cost of --results and --html
# together (CPU at 20,000/s, in RUNS interleaved rounds, and the highest
# rate held with and without them, over a package of OUT_SPAN seconds,
# default 30), "merge" a whole run against two shards run at once from one
# start and merged (counts, and the merged percentiles against the exact
# ones of the shards' results files), "loggen" vt_replay against wrk on a
# package made by vt_loggen (varied SOAP entries of 1,200 to 2,400 bytes,
# LOGGEN_REQUESTS requests, default 200000): vt_replay sends it whole at
# --speed 1e9 (every request due at once, each user on its keep-alive
# connection), wrk posts bodies of the package's mean size over as many
# connections as the package has users, one thread each, RUNS rounds
# alternated; answers per second, client CPU per answer. The load average is
# printed at the start and the end.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
USERS=${USERS:-500}
BODY=${BODY:-600}
SPAN=${SPAN:-10}
RUNS=${RUNS:-3}
WRK_SECONDS=${WRK_SECONDS:-5}
OUT_SPAN=${OUT_SPAN:-30}
PARTS=${PARTS:-base search}
part() { [[ " $PARTS " == *" $1 "* ]]; }
BENCH_DIR=${BENCH_DIR:-$ROOT/build/bench_replay}
REPLAY=$ROOT/build/release/tools/replay/vt_replay

scripts/setup.sh
for tool in wrk:wrk /usr/bin/time:time; do
  command -v "${tool%%:*}" >/dev/null || { apt-get update -qq && apt-get install -y -qq "${tool##*:}" >/dev/null; }
done
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j 2 --target vt_replay >/dev/null

rm -rf "$BENCH_DIR"
mkdir -p "$BENCH_DIR/pkg" "$BENCH_DIR/nginx"
NGINX_PID=
cleanup() {
  if [ -n "$NGINX_PID" ]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
  fi
}
trap cleanup EXIT

# The package: users dealt to 4 workers, their phases spread evenly.
write_package() {  # write_package DIR SPAN_MS
mkdir -p "$1"
perl -e '
  my ($dir, $users, $body, $span_ms) = @ARGV;
  my $interval = $users * 1000 / 5000;  # ms between two requests of a user
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
        $line .= ",$t,0,$off,$size";
        print $req $entry;
        $off += $size;
      }
      print $idx "$line\n";
    }
  }' "$1" "$USERS" "$BODY" "$2"
}
write_package "$BENCH_DIR/pkg" $((SPAN * 1000))

# nginx: one worker, answering every POST with a short body.
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
    listen 127.0.0.1:$candidate backlog=4096;
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
[ -n "$PORT" ] || { echo "replay_bench: nginx did not start"; exit 1; }
ulimit -n 65536 2>/dev/null || true

# CPU seconds the nginx worker has used so far (user + system).
NGINX_WORKER=$(pgrep -P "$NGINX_PID" | head -1)
nginx_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$NGINX_WORKER/stat"; }

json() { sed -n "s/.*\"$2\": {\([^}]*\)}.*/\1/p" "$1" | sed -n "s/.*\"$3\": \([0-9.]*\).*/\1/p"; }
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }

# One replay at SPEED; prints "planned achieved lag_p50 lag_p99 lag_max errors cpu rss_kb
# nginx_cpu cpu_s" (the CPU shares in % of one core; cpu_s the client's CPU
# seconds). PKG (default pkg) names the package, OUTPUTS=1 adds --results
# and --html.
run_replay() {  # run_replay SPEED [THREADS]
  local speed=$1 threads=${2:-1} out n0 more=()
  out=$BENCH_DIR/replay_${speed}_$threads.json
  rm -f "$out" "$BENCH_DIR/results.jsonl" "$BENCH_DIR/run.html"
  [ "${OUTPUTS:-0}" = 1 ] && more=(--results "$BENCH_DIR/results.jsonl" --html "$BENCH_DIR/run.html")
  n0=$(nginx_cpu)
  /usr/bin/time -f '%e %U %S %M' -o "$BENCH_DIR/time" "$REPLAY" "$BENCH_DIR/${PKG:-pkg}" \
    --target "127.0.0.1:$PORT" --speed "$speed" --threads "$threads" --timeout 5000 --quiet \
    --json "$out" "${more[@]}" >"$BENCH_DIR/replay_${speed}_$threads.txt"
  read -r wall user sys rss <"$BENCH_DIR/time"
  local errors
  errors=$(sed -n 's/.*"requests": {[^}]*"errors": \([0-9]*\),.*/\1/p' "$out")
  echo "$(json "$out" rate planned_per_s) $(json "$out" rate achieved_per_s)" \
    "$(json "$out" lag_ms p50) $(json "$out" lag_ms p99) $(json "$out" lag_ms max) $errors" \
    "$(calc "($user + $sys) / $wall * 100") $rss $(calc "($(nginx_cpu) - $n0) / $wall * 100")" \
    "$(calc "$user + $sys")"
}

row() {  # row LABEL FIELDS...
  printf '%-22s %9.0f %9.0f %8.3f %8.3f %8.3f %6s %5.0f%% %7.1f %5.0f%%\n' "$1" "$2" "$3" "$4" "$5" \
    "$6" "$7" "$8" "$(calc "$9 / 1024")" "${10}"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
col() { printf '%s' "$1" | awk -v c="$2" '{ print $c }' | median; }

cat >"$BENCH_DIR/post.lua" <<LUA
wrk.method = "POST"
wrk.body = string.rep("x", $BODY)
wrk.headers["Content-Type"] = "text/xml"
LUA
run_wrk() {  # run_wrk THREADS; prints "rate cpu nginx_cpu"
  local n0
  n0=$(nginx_cpu)
  /usr/bin/time -f '%e %U %S' -o "$BENCH_DIR/time" wrk -t"$1" -c"$USERS" -d"${WRK_SECONDS}s" \
    -s "$BENCH_DIR/post.lua" "http://127.0.0.1:$PORT/svc/bench" >"$BENCH_DIR/wrk_$1.txt"
  read -r wall user sys <"$BENCH_DIR/time"
  echo "$(sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' "$BENCH_DIR/wrk_$1.txt")" \
    "$(calc "($user + $sys) / $wall * 100") $(calc "($(nginx_cpu) - $n0) / $wall * 100")"
}

echo "replay_bench: $USERS users, $BODY-byte bodies, $((SPAN * 5000)) requests over $SPAN s;" \
  "nginx on 127.0.0.1:$PORT; $RUNS rounds, medians; parts: $PARTS; load average $(cut -d' ' -f1-3 /proc/loadavg)"
# Rounds interleave the runs, so that a busy spell of the shared machine
# falls on all of them alike.
declare -A rows
part base && for round in $(seq "$RUNS"); do
  rows[r1]+="$(run_replay 1)"$'\n'
  rows[w1]+="$(run_wrk 1)"$'\n'
  rows[r4]+="$(run_replay 4)"$'\n'
  rows[w2]+="$(run_wrk 2)"$'\n'
  rows[r4t2]+="$(run_replay 4 2)"$'\n'
done
printf '%-22s %9s %9s %8s %8s %8s %6s %6s %7s %6s\n' run planned/s achieved/s lag_p50 lag_p99 lag_max \
  errors cpu rss_MB nginx
part base && for k in r1 r4 r4t2; do
  case $k in
    r1) label="vt_replay 5,000/s" ;;
    r4) label="vt_replay 20,000/s" ;;
    *) label="vt_replay 20,000/s -t2" ;;
  esac
  row "$label" $(for c in 1 2 3 4 5 6 7 8 9; do col "${rows[$k]}" $c; done)
done
part base && wrk1=$(col "${rows[w1]}" 1) && wrk2=$(col "${rows[w2]}" 1)
part base && for k in w1 w2; do
  printf '%-22s %9s %9.0f %8s %8s %8s %6s %5.0f%% %7s %5.0f%%\n' "wrk -t${k#w} -c$USERS" - \
    "$(col "${rows[$k]}" 1)" - - - - "$(col "${rows[$k]}" 2)" - "$(col "${rows[$k]}" 3)"
done

# The schedule's lag at one rate, LAG_SPEED times the package's (default 10:
# 50,000 requests/s), one thread, RUNS runs alternated with nothing else:
# each run's row and the medians.
part lag && for round in $(seq "$RUNS"); do
  r=$(run_replay "${LAG_SPEED:-10}")
  rows[lag]+="$r"$'\n'
  row "vt_replay lag run $round" $r
done
part lag && row "vt_replay lag median" $(for c in 1 2 3 4 5 6 7 8 9; do col "${rows[lag]}" $c; done)

# The highest rate held: rising speeds until one falls short, with one
# sending thread and with two.
declare -A best
part search && for threads in 1 2; do
  best[$threads]=0
  for speed in 1 1.5 2 2.5 3 4 5 6 8 10 12 16 20 24 32; do
    read -r planned achieved p50 p99 max errors cpu rss ncpu cpu_s < <(run_replay "$speed" "$threads")
    row "vt_replay -t$threads speed $speed" "$planned" "$achieved" "$p50" "$p99" "$max" "$errors" \
      "$cpu" "$rss" "$ncpu"
    if [ "$errors" != 0 ] || awk -v a="$achieved" -v p="$planned" 'BEGIN { exit !(a < 0.97 * p) }'; then
      break
    fi
    best[$threads]=$achieved
  done
done
part search && part base && for threads in 1 2; do
  b=${best[$threads]}
  echo "vt_replay --threads $threads: highest rate sustained $(calc "$b") req/s;" \
    "/ wrk -t1: $(calc "$b / $wrk1"), / wrk -t2: $(calc "$b / $wrk2")"
done

# --results and --html together: CPU at 20,000/s, then the highest rate held
# with and without them, over a longer package.
if part outputs; then
  write_package "$BENCH_DIR/pkg_out" $((OUT_SPAN * 1000))
  echo
  echo "outputs: $((OUT_SPAN * 5000)) requests over $OUT_SPAN s; load average $(cut -d' ' -f1-3 /proc/loadavg)"
  declare -A out_rows
  for round in $(seq "$RUNS"); do
    out_rows[plain]+="$(PKG=pkg_out run_replay 4)"$'\n'
    out_rows[outputs]+="$(PKG=pkg_out OUTPUTS=1 run_replay 4)"$'\n'
  done
  printf '%-22s %9s %9s %8s %8s %8s %6s %6s %7s %6s %6s\n' run planned/s achieved/s lag_p50 lag_p99 \
    lag_max errors cpu rss_MB nginx cpu_s
  for k in plain outputs; do
    label="20,000/s"
    [ $k = outputs ] && label="20,000/s --results --html"
    row "$label" $(for c in 1 2 3 4 5 6 7 8 9; do col "${out_rows[$k]}" $c; done)
    printf '%-22s cpu seconds %s\n' "" "$(col "${out_rows[$k]}" 10)"
  done
  plain_cpu=$(col "${out_rows[plain]}" 10)
  out_cpu=$(col "${out_rows[outputs]}" 10)
  echo "CPU at 20,000/s: $(calc "$out_cpu / $plain_cpu") x without the outputs" \
    "($plain_cpu s and $out_cpu s for $((OUT_SPAN * 5000)) requests); results file" \
    "$(du -k "$BENCH_DIR/results.jsonl" 2>/dev/null | cut -f1) KB"
  echo "requests per second of client CPU: $(calc "$OUT_SPAN * 5000 / $plain_cpu") without," \
    "$(calc "$OUT_SPAN * 5000 / $out_cpu") with --results and --html"
  # Both searches step together, so that the machine's load falls on both alike.
  declare -A held failed
  held[0]=0 held[1]=0 failed[0]=0 failed[1]=0
  for speed in 1 1.5 2 2.5 3 3.5 4 4.5 5 5.5 6 7 8 9 10 11 12 13 14 15 16 18 20 22 24 28 32; do
    for outputs in 0 1; do
      [ "${failed[$outputs]}" = 1 ] && continue
      read -r planned achieved p50 p99 max errors cpu rss ncpu cpu_s < \
        <(PKG=pkg_out OUTPUTS=$outputs run_replay "$speed")
      row "$([ $outputs = 1 ] && echo "outputs" || echo "plain") speed $speed" "$planned" "$achieved" \
        "$p50" "$p99" "$max" "$errors" "$cpu" "$rss" "$ncpu"
      if [ "$errors" != 0 ] || awk -v a="$achieved" -v p="$planned" 'BEGIN { exit !(a < 0.97 * p) }'; then
        failed[$outputs]=1
      else
        held[$outputs]=$achieved
      fi
    done
    [ "${failed[0]}" = 1 ] && [ "${failed[1]}" = 1 ] && break
  done
  echo "highest rate held: $(calc "${held[0]}") req/s without, $(calc "${held[1]}") with --results" \
    "and --html: $(calc "${held[1]} / (${held[0]} + 1e-9)") x"
fi

# vt_replay against wrk on a package of vt_loggen's.
if part loggen; then
  L=$BENCH_DIR/loggen
  rm -rf "$L"
  mkdir -p "$L/wdir/scenarios/t/replay"
  cmake --build build/release -j 2 --target vt_loggen vtu_replay_gen vtu_gen_script vtu_gen_cscript \
    vtu_change_page_name vti_get_page >/dev/null
  build/release/tools/loggen/vt_loggen --out "$L/logs" --days 1 --files-per-day 2 \
    --requests "${LOGGEN_REQUESTS:-200000}" --customers 100 --services 10 --min-body 1200 \
    --max-body 2400 --large-share 0 --bad-share 0 --long-share 1 --day-span 600 --seed 7 --quiet >/dev/null
  printf 'INPUT_DIR|%s\nREPLAY_DIR|%s\nSCRIPT_NAME|t/replay/script\nSCENARIO_NAME|t/replay/t.conf\nNUM_VVM|1\nHOST_HEADER|127.0.0.1\nHTTP_HEADER|Connection: keep-alive\n' \
    "$L/logs" "$L/pkg" >"$L/replay.conf"
  VT_WDIR=$L/wdir PATH=$ROOT/build/release/suite_bin:$PATH build/release/tools/replay_gen/vtu_replay_gen \
    -i "$L/replay.conf" -n 1 >"$L/gen.out" 2>&1 || { echo "replay_bench: vtu_replay_gen failed"; exit 1; }
  users=$(grep -vc '^#' "$L"/pkg/vt_index_0)
  requests=$(awk -F, 'NR > 1 { n += (NF - 2) / 4 } END { print n }' "$L"/pkg/vt_index_0)
  body=$(perl -ne '$n++ if /^Content-Length: (\d+)/ and $s += $1; END { printf "%d", $s / $n }' "$L/pkg/vt_req_0")
  sed "s/string.rep(\"x\", $BODY)/string.rep(\"x\", $body)/" "$BENCH_DIR/post.lua" >"$L/post.lua"
  echo
  echo "loggen: $requests requests of $users users, bodies of $body bytes on average; load average $(cut -d' ' -f1-3 /proc/loadavg)"
  declare -A lg
  for round in $(seq "$RUNS"); do
    /usr/bin/time -f '%e %U %S' -o "$L/time" "$REPLAY" "$L/pkg" --target "127.0.0.1:$PORT" \
      --speed 1e9 --timeout 5000 --quiet --max-failed 1 --json "$L/r$round.json" >/dev/null
    read -r wall user sys <"$L/time"
    done_n=$(sed -n 's/.*"requests": {[^}]*"completed": \([0-9]*\),.*/\1/p' "$L/r$round.json")
    lg[r]+="$(calc "$done_n / $wall") $(calc "($user + $sys) / $done_n * 1e6")"$'\n'
    /usr/bin/time -f '%e %U %S' -o "$L/time" wrk -t1 -c"$users" -d"${WRK_SECONDS}s" -s "$L/post.lua" \
      "http://127.0.0.1:$PORT/svc/Area1.svc" >"$L/wrk.txt"
    read -r wall user sys <"$L/time"
    n=$(sed -n 's/^ *\([0-9]*\) requests in.*/\1/p' "$L/wrk.txt")
    lg[w]+="$(sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' "$L/wrk.txt") $(calc "($user + $sys) / $n * 1e6")"$'\n'
  done
  r=$(col "${lg[r]}" 1) w=$(col "${lg[w]}" 1)
  echo "loggen: vt_replay $r answers/s ($(col "${lg[r]}" 2) us of CPU each), wrk -t1 -c$users $w/s" \
    "($(col "${lg[w]}" 2) us each): $(calc "$r / $w") x (medians of $RUNS rounds)"
fi

# A whole run against two shards run at once from one start, merged.
if part merge; then
  echo
  rm -f "$BENCH_DIR"/merge_*
  "$REPLAY" "$BENCH_DIR/pkg" --target "127.0.0.1:$PORT" --speed 2 --timeout 5000 --quiet \
    --json "$BENCH_DIR/merge_whole.json" >/dev/null
  start=$(($(date +%s) + 2))
  shards=()
  for i in 0 1; do
    "$REPLAY" "$BENCH_DIR/pkg" --target "127.0.0.1:$PORT" --speed 2 --timeout 5000 --quiet \
      --shard $i/2 --start-at "$start" --json "$BENCH_DIR/merge_$i.json" \
      --results "$BENCH_DIR/merge_$i.jsonl" >/dev/null &
    shards+=($!)
  done
  wait "${shards[@]}"
  "$REPLAY" merge "$BENCH_DIR/merge_0.json" "$BENCH_DIR/merge_1.json" \
    --json "$BENCH_DIR/merge_all.json" >/dev/null
  python3 - "$BENCH_DIR" <<'PY'
import json, math, sys
d = sys.argv[1]
whole, merged = (json.load(open(f"{d}/merge_{n}.json")) for n in ("whole", "all"))
keys = ("planned", "sent", "completed", "errors", "failed")
same = lambda a, b: all(a[k] == b[k] for k in keys if k in a)
print("merge: counts of the merged shards against the whole run:",
      "requests", "same" if same(merged["requests"], whole["requests"]) else "DIFFER",
      "status", "same" if merged["status"] == whole["status"] else "DIFFER",
      "pages", "same" if all(same(merged["pages"][p], v) for p, v in whole["pages"].items()) else "DIFFER",
      "workers", "same" if all(same(m, w) for m, w in zip(merged["workers"], whole["workers"])) else "DIFFER")
lat = sorted(json.loads(l)["latency_ms"] for n in (0, 1) for l in open(f"{d}/merge_{n}.jsonl"))
for key, p in (("p50", 50), ("p90", 90), ("p99", 99), ("p99_9", 99.9), ("max", 100)):
    exact = lat[max(1, math.ceil(p / 100 * len(lat))) - 1]
    got = merged["latency_ms"][key]
    print(f"merge: latency {key}: merged {got:.6f} ms, exact {exact:.6f} ms of {len(lat)} results,"
          f" error {abs(got - exact) / exact * 100:.3f}% (stated bound 0.391%);"
          f" the whole run {whole['latency_ms'][key]:.6f} ms")
PY
fi
echo "load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"
