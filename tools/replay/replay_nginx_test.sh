#!/bin/bash
# End to end against a real server: a log tree from vt_loggen, a package from
# vtu_replay_gen, nginx on a free port of 127.0.0.1 run from a temporary
# prefix, and vt_replay sending the package to it. nginx's access log must
# hold exactly the package's requests (method, path, Content-Length, and the
# request's length, which shows that the bytes of each entry were sent
# whole), and the report must count them alike, naming the services of the
# package's manifest. The results file holds one line per request, whose
# latencies give the report's percentiles. (Shards and their merge:
# ReplayProgram.ShardsMergeToTheWholeRun.)
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

# The package: three workers, a few dozen users, bodies of 100 to 3000 bytes.
make_package "$TOOL" "$LOGGEN" "$SUITE_BIN" 400
package_listing >"$WORK/expected" || die "cannot read the package"
TOTAL=$(awk '{ n += $1 } END { print n }' "$WORK/expected")
[ "$TOTAL" -gt 100 ] || die "the package holds only $TOTAL requests"

cat >"$WORK/servers" <<'CONF'
  log_format counts '$request_method $request_uri $content_length $request_length $status';
  access_log @WORK@/nginx/access.log counts;
  server {
    listen 127.0.0.1:@PORT@;
    # Proxying reads each body whole, so that $request_length counts it; the
    # proxied copy lands on /ok, which answers and logs nothing.
    location / {
      rewrite ^ /ok break;
      proxy_pass http://127.0.0.1:@PORT@;
    }
    location = /ok { access_log off; return 200 "ok\n"; }
  }
CONF
start_nginx "$WORK/servers"
: >"$WORK/nginx/access.log"  # the readiness probe sent no request, but be sure

# The whole day in about two seconds.
SPEED=$(two_second_speed)
timeout 60 "$REPLAY" "$WORK/pkg" --target "127.0.0.1:$PORT" --speed "$SPEED" \
  --timeout 3000 --json "$WORK/report.json" --results "$WORK/results.jsonl" --html "$WORK/run.html" \
  --quiet >"$WORK/replay.out" 2>"$WORK/replay.err"
status=$?
[ $status = 0 ] || die "vt_replay exited with status $status"
sleep 0.2  # nginx writes the log line after the response

# logged_alike FIRST_LINE: nginx's log from that line on holds the package.
logged_alike() {
  tail -n +"$1" "$WORK/nginx/access.log" >"$WORK/part.log"
  awk '$5 != 200 { print "status " $5 " for " $0; bad = 1 } END { exit bad }' "$WORK/part.log" ||
    die "nginx answered other than 200"
  awk '{ print $1, $2, $3, $4 }' "$WORK/part.log" | sort | uniq -c >"$WORK/actual"
  diff "$WORK/expected" "$WORK/actual" >"$WORK/diff" ||
    die "nginx logged other requests than the package holds: $(head -20 "$WORK/diff")"
}
logged_alike 1

json() { sed -n "s/.*\"$1\": \([0-9]*\).*/\1/p" "$WORK/report.json" | head -1; }
for key in planned sent completed; do
  [ "$(json "$key")" = "$TOTAL" ] || die "report: $key $(json "$key"), package $TOTAL"
done
grep -q "\"status\": {\"200\": $TOTAL}" "$WORK/report.json" || die "report: status counts differ"
grep -q '"errors": {"connect": 0, "tls": 0, "reset": 0, "timeout": 0, "parse": 0, "closed": 0}' "$WORK/report.json" ||
  die "report: errors"
grep -q "requests     planned $TOTAL, sent $TOTAL, completed $TOTAL, errors 0" "$WORK/replay.out" ||
  die "text report differs"
grep -q "rewrites     none: every request sent as the package holds it" "$WORK/replay.out" ||
  die "the report does not say that nothing was rewritten"
grep -q '^  captured     2026-12-01 ' "$WORK/replay.out" || die "no capture clock in the report"

# One results line per request sent; the exact percentiles of its latencies
# are the report's within the histogram's error.
# The pages carry the service names of the package's manifest, in the text
# and the JSON.
python3 - "$WORK/results.jsonl" "$WORK/report.json" "$TOTAL" "$WORK/pkg/vt_manifest.json" \
  "$WORK/replay.out" <<'PY' || die "results and report disagree"
import json, math, re, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
report = json.load(open(sys.argv[2]))
total = int(sys.argv[3])
names = {str(s["page_id"]): s["name"] for s in json.load(open(sys.argv[4]))["services"]}
assert {p: v["name"] for p, v in report["pages"].items()} == names, names
text = open(sys.argv[5]).read()
for page, name in names.items():
    assert re.search(r"^  %s +[0-9].*  %s$" % (page, re.escape(name)), text, re.M), (page, name)
assert len(lines) == total == report["requests"]["sent"], (len(lines), total)
lat = sorted(l["latency_ms"] for l in lines if l["status"] is not None)
for key, p in (("p50", 50), ("p90", 90), ("p99", 99), ("max", 100)):
    exact = lat[max(1, math.ceil(p / 100 * len(lat))) - 1]
    got = report["latency_ms"][key]
    assert abs(got - exact) <= exact / 256 + 1e-6, (key, got, exact)
assert abs(report["latency_ms"]["mean"] - sum(lat) / len(lat)) < 1e-5
assert sum(l["bytes_out"] for l in lines) == report["bytes"]["sent"]
assert len(report["package_id"]) == 32, report["package_id"]
PY

stop_nginx
echo "$NAME: $TOTAL requests replayed whole, logged alike, counted alike"
