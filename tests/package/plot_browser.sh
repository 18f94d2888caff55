#!/bin/bash
# plot_browser.sh VT_PACKAGE TOOL LOGGEN SUITE_BIN OUT_DIR VT_REPLAY VT_SINK: plot in headless
# Chromium (no console message, a series per worker, OUT_DIR/plot.png), then a replay's page against
# vt_sink (OUT_DIR/run.png), every chart drawn. Skipped (77) without Chromium (scripts/setup.sh).
. "${0%/*}/../lib.sh"
P=$1 TOOL=$2 LOGGEN=$3 SUITE_BIN=$4 OUT_DIR=$5 REPLAY=$6 SINK=$7
BROWSER=$(command -v chromium || command -v chromium-browser)
[ -n "$BROWSER" ] || { echo "skipped: chromium is not installed (scripts/setup.sh installs it)"; exit 77; }

WORKERS=5
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 2 --requests 20000 --customers 2000 \
  --services 30 --seed 11 --quiet >/dev/null || exit 1
mkdir -p "$WORK/wdir/scenarios/p/s"
cat >"$WORK/replay.conf" <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/replay
SCRIPT_NAME|p/s/script
SCENARIO_NAME|p/s/x.conf
NUM_VVM|$WORKERS
CONF
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i "$WORK/replay.conf" >"$WORK/run.out" 2>&1 ||
  { echo "the run failed: $(tail -3 "$WORK/run.out")"; exit 1; }
"$P" plot "$WORK/replay" -o "$WORK/plot.html" || exit 1

browse() {  # browse PAGE ARGS...: Chromium on the page, its log on stderr
  local page=$1
  shift
  timeout 120 "$BROWSER" --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$(mktemp -d "$WORK/profile.XXXXXX")" \
    --enable-logging=stderr --v=0 "$@" "file://$WORK/$page"
}
# render PAGE: its DOM into $WORK/dom.html; any console message fails.
render() {
  browse "$1" --dump-dom >"$WORK/dom.html" 2>"$WORK/browser.log" ||
    fail "$1: chromium failed: $(tail -3 "$WORK/browser.log")"
  ! grep -q ':CONSOLE' "$WORK/browser.log" || fail "$1: console messages: $(grep ':CONSOLE' "$WORK/browser.log" | head -3)"
}
render plot.html
series=$(grep -o '<path class="series" data-worker="[0-9]*"[^>]*d="M[^"]*Z"' "$WORK/dom.html" | wc -l)
[ "$series" = "$WORKERS" ] || fail "the rendered page holds $series whole series, not $WORKERS"
grep -q '<h2>Users active at once</h2>' "$WORK/dom.html" || fail "no chart of active users"

mkdir -p "$OUT_DIR"
shoot() {  # shoot PAGE PNG HEIGHT
  rm -f "$OUT_DIR/$2"
  browse "$1" --window-size=1000,"$3" --screenshot="$OUT_DIR/$2" >/dev/null 2>"$WORK/shot.log" ||
    fail "$1: no screenshot: $(tail -3 "$WORK/shot.log")"
  [ -s "$OUT_DIR/$2" ] || fail "$1: the screenshot is empty"
  cp "$WORK/$1" "$OUT_DIR/$1"
}
shoot plot.html plot.png 2600

# The first 3 s of a run against vt_sink (one answer in four a 503), and its results file's page.
"$SINK" --status 200,200,200,503 --seconds 60 --port-file "$WORK/port" --pid-file "$WORK/sink.pid" \
  --background --quiet || exit 1
SINK_PID=$(cat "$WORK/sink.pid")
timeout 60 "$REPLAY" "$WORK/replay" --target "127.0.0.1:$(cat "$WORK/port")" --speed 10000 --duration 3 --quiet \
  --max-failed 30% --html "$WORK/run.html" --results "$WORK/run.csv" >"$WORK/replay.out" 2>&1 ||
  { echo "the replay failed: $(tail -3 "$WORK/replay.out")"; exit 1; }
"$P" plot "$WORK/replay" --results "$WORK/run.csv" -o "$WORK/results.html" >/dev/null || exit 1
# (The charts' bytes: ReplayFigures.ReportAndPageAreAsKept.)
for page in run.html results.html; do
  render $page
  for label in 'requests per second, planned and achieved' 'latency p50 and p99' \
    'failures per second by status' 'schedule lag'; do
    grep -q "<svg [^>]*aria-label=\"$label\"" "$WORK/dom.html" || fail "$page: no chart of $label"
  done
  grep -q '<path class="series" data-failure="status 503"' "$WORK/dom.html" || fail "$page: no 503 drawn"
done
shoot run.html run.png 2400

verdict "the pages render, $WORKERS series; screenshots $OUT_DIR/plot.png, $OUT_DIR/run.png"
