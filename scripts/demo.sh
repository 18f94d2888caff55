#!/bin/bash
# The tool's demo, in a fresh working directory under build/demo/, telling
# each stage as it starts: installing what is missing, configuring, building
# (with the build's own progress), then two runs. The first runs the tool on
# the bundled sample log tree with the bundled configuration (its console
# follows) and checks the package. The second generates a denser tree with
# vt_loggen, thousands of requests within minutes of a capture day, runs the
# tool on it, checks the package against what vt_loggen expects, and shows
# the package's profile and the plot beside it. Last, the dense package is
# replayed against vt_sink, a small server the demo starts on 127.0.0.1 and
# stops again.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build/normal
targets=(vtu_replay_gen vt_package_check vt_package vt_loggen vt_replay vt_sink vtu_gen_cscript
  vtu_gen_script vti_get_page vtu_change_page_name)
TOOL=$BUILD/tools/replay_gen/vtu_replay_gen
PACKAGE=$BUILD/tools/package/vt_package
LOGGEN=$BUILD/tools/loggen/vt_loggen

stage() { printf '\ndemo: [%s/5] %s\n' "$1" "${*:2}"; }
fail() {
  echo "demo: $*" >&2
  exit 1
}

stage 1 "installing what the machine lacks (scripts/setup.sh; silent when nothing is missing)"
scripts/setup.sh || fail "scripts/setup.sh failed"

stage 2 "configuring build/normal (cmake, Ninja, RelWithDebInfo)"
mkdir -p build
if ! cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >build/demo-configure.log 2>&1; then
  cat build/demo-configure.log >&2
  fail "configuring failed (output above, also in build/demo-configure.log)"
fi

stage 3 "building ${targets[*]} (the build's progress follows)"
cmake --build "$BUILD" -j 2 --target "${targets[@]}" || fail "the build failed"

DEMO=$ROOT/build/demo/run-$(date +%Y%m%d-%H%M%S)-$$
export PATH=$BUILD/suite_bin:$PATH

# The sample tree: 24 records over two capture days.
SAMPLE=$DEMO/sample
mkdir -p "$SAMPLE/wdir/scenarios/demo/replay"
sed -e "s#@EXAMPLES@#$ROOT/examples#g" -e "s#@DEMO@#$SAMPLE#g" \
  examples/replay.conf.in >"$SAMPLE/replay.conf"
stage 4 "running vtu_replay_gen -i $SAMPLE/replay.conf -n 2 on the bundled sample tree" \
  "(VT_WDIR=$SAMPLE/wdir; its console follows)"
VT_WDIR=$SAMPLE/wdir "$TOOL" -i "$SAMPLE/replay.conf" -n 2 2>&1 | tee "$SAMPLE/console.log"
status=${PIPESTATUS[0]}

REPLAY=$SAMPLE/replay
echo
echo "demo: vtu_replay_gen exited with status $status (console saved in $SAMPLE/console.log)"
echo "demo: package   $REPLAY"
[ -d "$REPLAY" ] || fail "no replay directory was made"
verdict=$("$BUILD/tools/package/vt_package_check" "$REPLAY" 2>&1)
check_status=$?
if [ $check_status -eq 0 ]; then
  echo "demo: checker   sound: ${verdict#package_check: }"
else
  echo "demo: checker   NOT sound (status $check_status):"
  echo "$verdict" | sed 's/^/demo:   /'
fi

# A short summary: what the request files hold, what was rejected, and what
# was made under VT_WDIR.
req_files=$(find "$REPLAY" -maxdepth 1 -name 'vt_req_*' | wc -l)
req_bytes=$(find "$REPLAY" -maxdepth 1 -name 'vt_req_*' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
rejected=$(cat "$REPLAY"/error.log.* 2>/dev/null | grep -vc '^#')
users_line=$(grep -m1 'Total users = ' "$SAMPLE/console.log" | sed 's/^ *//')
scenario=$SAMPLE/wdir/scenarios/demo/replay/sample.conf
pages=$SAMPLE/wdir/scripts/demo/replay/sample_script/script.pages
echo "demo: summary   $req_files request files ($req_bytes bytes) and $req_files index files;" \
  "$rejected rejected record(s) listed in error.log.*; the manifest vt_manifest.json"
[ -n "$users_line" ] && echo "demo:           $users_line"
[ -f "$scenario" ] && echo "demo:           scenario $scenario"
[ -f "$pages" ] && echo "demo:           script $(dirname "$pages") ($(wc -l <"$pages") pages:" \
  "$(cut -f1 "$pages" | paste -sd' ' -))"
if [ $status -eq 0 ] && [ $check_status -ne 0 ]; then status=1; fi
[ "$status" = 0 ] || exit "$status"

# A denser tree: 6,000 records whose visits start within the first 15
# minutes of one capture day, four workers, and the REPLAY_PERIOD line that
# vt_loggen proposes (it rejects the records it built to fall outside).
DENSE=$DEMO/dense
stage 5 "generating a denser log tree with vt_loggen (6,000 requests, visits starting within" \
  "15 minutes) and running vtu_replay_gen on it (console in $DENSE/console.log)"
mkdir -p "$DENSE/wdir/scenarios/demo/dense"
"$LOGGEN" --out "$DENSE/logs" --requests 6000 --day-span 900 --customers 600 --services 6 \
  --files-per-day 2 --max-body 3000 --quiet >"$DENSE/loggen.out" || fail "vt_loggen failed"
expected() { sed -n "s/^$1=//p" "$DENSE/loggen.out"; }
cat >"$DENSE/replay.conf" <<CONF
INPUT_DIR|$DENSE/logs
REPLAY_DIR|$DENSE/replay
SCRIPT_NAME|demo/dense/dense_script
SCENARIO_NAME|demo/dense/dense.conf
NUM_VVM|4
$(expected replay_period)
CONF
VT_WDIR=$DENSE/wdir "$TOOL" -i "$DENSE/replay.conf" >"$DENSE/console.log" 2>&1
status=$?
echo "demo: vtu_replay_gen exited with status $status"
[ $status -eq 0 ] || { tail -n 5 "$DENSE/console.log"; exit $status; }
"$PACKAGE" check "$DENSE/replay" | sed 's/^check: /demo: checker   /'
[ "${PIPESTATUS[0]}" = 0 ] || status=1
want="4 workers, $(expected expected_users) users, $(expected expected_accepted) requests, 0 problems"
if grep -q "package_check: $want" <("$BUILD/tools/package/vt_package_check" "$DENSE/replay"); then
  echo "demo: expected  $want, as vt_loggen announced"
else
  echo "demo: expected  $want (vt_loggen's figures), but the package differs"
  status=1
fi
echo
"$PACKAGE" profile "$DENSE/replay"
"$PACKAGE" plot "$DENSE/replay" -o "$DENSE/plot.html" >/dev/null &&
  echo "demo: plot of the package in $DENSE/plot.html (open it in a browser)"

# The dense package sent to a server: vt_sink on a free port of 127.0.0.1,
# the package played at 1,000 times its pace (about 9 s) and never longer
# than 15 s, the server
# stopped again.
if [ "$status" = 0 ]; then
  if "$BUILD/tools/sink/vt_sink" --background --port-file "$DENSE/sink.port" \
    --pid-file "$DENSE/sink.pid" --seconds 120 >"$DENSE/sink.log"; then
    SINK_PID=$(cat "$DENSE/sink.pid")
    replay=(vt_replay "$DENSE/replay" --target "http://127.0.0.1:$(cat "$DENSE/sink.port")" --speed 1000
      --duration 15 --quiet --html "$DENSE/run.html")
    echo
    echo "demo: replaying the dense package against vt_sink on 127.0.0.1:$(cat "$DENSE/sink.port"):"
    echo "demo:   ${replay[*]}"
    "$BUILD/tools/replay/${replay[0]}" "${replay[@]:1}"
    replay_status=$?
    kill "$SINK_PID"
    for _ in $(seq 100); do kill -0 "$SINK_PID" 2>/dev/null || break; sleep 0.05; done
    echo "demo: server  $(cat "$DENSE/sink.log")"
    echo "demo: vt_replay exited with status $replay_status"
    [ -s "$DENSE/run.html" ] && echo "demo: page of the run in $DENSE/run.html (open it in a browser)"
    [ $replay_status -eq 0 ] || status=1
  else
    echo "demo: vt_sink did not start; the package was not replayed" >&2
    status=1
  fi
fi
exit $status
