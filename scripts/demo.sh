#!/bin/bash
# Runs the tool on the bundled sample log tree with the bundled configuration,
# in a fresh working directory under build/demo/, telling each stage as it
# starts: installing what is missing, configuring, building (with the build's
# own progress), running (with the tool's own console). Then it names the
# package, gives the package checker's verdict and a short summary, the
# package's profile and plot, and ends with a replay of the package against
# vt_sink, a small server it starts on 127.0.0.1 and stops again.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build/normal
targets=(vtu_replay_gen vt_package_check vt_package vt_replay vt_sink vtu_gen_cscript vtu_gen_script
  vti_get_page vtu_change_page_name)

stage() { printf '\ndemo: [%s/4] %s\n' "$1" "$2"; }
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
mkdir -p "$DEMO/wdir/scenarios/demo/replay"
sed -e "s#@EXAMPLES@#$ROOT/examples#g" -e "s#@DEMO@#$DEMO#g" \
  examples/replay.conf.in >"$DEMO/replay.conf"
export VT_WDIR=$DEMO/wdir
export PATH=$BUILD/suite_bin:$PATH
TOOL=$BUILD/tools/replay_gen/vtu_replay_gen
stage 4 "running vtu_replay_gen -i $DEMO/replay.conf -n 2 (VT_WDIR=$VT_WDIR; its console follows)"
"$TOOL" -i "$DEMO/replay.conf" -n 2 2>&1 | tee "$DEMO/console.log"
status=${PIPESTATUS[0]}

REPLAY=$DEMO/replay
echo
echo "demo: vtu_replay_gen exited with status $status (console saved in $DEMO/console.log)"
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
users_line=$(grep -m1 'Total users = ' "$DEMO/console.log" | sed 's/^ *//')
scenario=$VT_WDIR/scenarios/demo/replay/sample.conf
pages=$VT_WDIR/scripts/demo/replay/sample_script/script.pages
echo "demo: summary   $req_files request files ($req_bytes bytes) and $req_files index files;" \
  "$rejected rejected record(s) listed in error.log.*"
[ -n "$users_line" ] && echo "demo:           $users_line"
[ -f "$scenario" ] && echo "demo:           scenario $scenario"
[ -f "$pages" ] && echo "demo:           script $(dirname "$pages") ($(wc -l <"$pages") pages:" \
  "$(cut -f1 "$pages" | paste -sd' ' -))"
if [ $status -eq 0 ] && [ $check_status -ne 0 ]; then status=1; fi

# The package's figures, and the same as a page of charts beside it.
if [ "$status" = 0 ]; then
  "$BUILD/tools/package/vt_package" profile "$REPLAY"
  "$BUILD/tools/package/vt_package" plot "$REPLAY" -o "$DEMO/plot.html" >/dev/null &&
    echo "demo: plot of the package in $DEMO/plot.html (open it in a browser)"
fi

# The package sent to a server: vt_sink on a free port of 127.0.0.1, the
# 24-hour day played in about a second, the server stopped again.
if [ "$status" = 0 ]; then
  SINK_PID=
  if "$BUILD/tools/sink/vt_sink" --background --port-file "$DEMO/sink.port" --pid-file "$DEMO/sink.pid" \
    --seconds 120 >"$DEMO/sink.log"; then
    SINK_PID=$(cat "$DEMO/sink.pid")
    replay=(vt_replay "$REPLAY" --target "http://127.0.0.1:$(cat "$DEMO/sink.port")" --speed 100000
      --quiet)
    echo
    echo "demo: replaying the package against vt_sink on 127.0.0.1:$(cat "$DEMO/sink.port"):"
    echo "demo:   ${replay[*]}"
    "$BUILD/tools/replay/${replay[0]}" "${replay[@]:1}"
    replay_status=$?
    kill "$SINK_PID"
    for _ in $(seq 100); do kill -0 "$SINK_PID" 2>/dev/null || break; sleep 0.05; done
    echo "demo: server  $(cat "$DEMO/sink.log")"
    echo "demo: vt_replay exited with status $replay_status"
    [ $replay_status -eq 0 ] || status=1
  else
    echo "demo: vt_sink did not start; the package was not replayed" >&2
    status=1
  fi
fi
exit $status
