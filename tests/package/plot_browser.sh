#!/bin/bash
# vt_package plot in a real browser: headless Chromium opens the page from the
# disk; it must render with no console message, hold one series per worker in
# its chart of requests per second, and it is photographed (OUT_DIR/plot.png,
# 1000 pixels wide) for a person to look at. Skipped (status 77) where
# Chromium is missing; scripts/setup.sh installs it.
#
#   plot_browser.sh VT_PACKAGE TOOL LOGGEN SUITE_BIN OUT_DIR
set -u
P=$1
TOOL=$2
LOGGEN=$3
SUITE_BIN=$4
OUT_DIR=$5
BROWSER=$(command -v chromium || command -v chromium-browser)
if [ -z "$BROWSER" ]; then
  echo "skipped: chromium is not installed (scripts/setup.sh installs it)"
  exit 77
fi
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_plot_browser.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

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

browse() {  # browse ARGS...: Chromium on the page, its log on stderr
  timeout 120 "$BROWSER" --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$(mktemp -d "$WORK/profile.XXXXXX")" \
    --enable-logging=stderr --v=0 "$@" "file://$WORK/plot.html"
}
browse --dump-dom >"$WORK/dom.html" 2>"$WORK/browser.log" || fail "chromium failed: $(tail -3 "$WORK/browser.log")"
# Every console message (a script error, an SVG attribute it could not read)
# is logged as ...:CONSOLE...
if grep -q ':CONSOLE' "$WORK/browser.log"; then
  fail "console messages: $(grep ':CONSOLE' "$WORK/browser.log" | head -3)"
fi
series=$(grep -o '<path class="series" data-worker="[0-9]*"[^>]*d="M[^"]*Z"' "$WORK/dom.html" | wc -l)
[ "$series" = "$WORKERS" ] || fail "the rendered page holds $series whole series, not $WORKERS"
grep -q '<h2>Users active at once</h2>' "$WORK/dom.html" || fail "no chart of active users"

mkdir -p "$OUT_DIR"
rm -f "$OUT_DIR/plot.png"
browse --window-size=1000,2600 --screenshot="$OUT_DIR/plot.png" >/dev/null 2>"$WORK/shot.log" ||
  fail "no screenshot: $(tail -3 "$WORK/shot.log")"
[ -s "$OUT_DIR/plot.png" ] || fail "the screenshot is empty"
cp "$WORK/plot.html" "$OUT_DIR/plot.html"

[ $failed = 0 ] && echo "plot_browser: the page renders, $WORKERS series; screenshot $OUT_DIR/plot.png"
exit $failed
