#!/bin/bash
# Runs the commands of the README's "Quick start" section, taken from the
# README itself, as a newcomer would paste them at the root of a clone, with
# HOME in a temporary directory; then checks the package they made and its
# replay against the local server they started and stopped.
#
#   quickstart_test.sh SOURCE_DIR BUILD_DIR PACKAGE_CHECK
#
# BUILD_DIR is handed to `make install` (its programs are built already).
set -u
SRC=$(cd "$1" && pwd)
BUILD_DIR=$(cd "$2" && pwd)
CHECK=$3
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_quickstart.XXXXXX")
SINK_PID=
trap '[ -n "$SINK_PID" ] && kill "$SINK_PID" 2>/dev/null; rm -rf "$T"' EXIT
export HOME=$T/home BUILD_DIR
mkdir -p "$HOME"
# The make that runs ctest must not hand its job server to the one inside.
unset MAKEFLAGS MAKELEVEL MFLAGS

fail() {
  echo "quickstart_test: $*"
  [ -f "$T/out" ] && { echo "--- output of the quick start:"; tail -n 40 "$T/out"; }
  exit 1
}

# The indented code lines between "## Quick start" and the next section.
awk '/^## / { inside = ($0 == "## Quick start") } inside && /^    / { print substr($0, 5) }' \
  "$SRC/README.md" >"$T/quickstart.sh"
for word in "make install" vt_loggen "vt_package preview" vtu_replay_gen "vt_package check" vt_sink \
  vt_replay "kill "; do
  grep -q "$word" "$T/quickstart.sh" || fail "the README's quick start has no '$word' command"
done
echo "quickstart_test: running the README's quick start:"
sed 's/^/    /' "$T/quickstart.sh"

(cd "$SRC" && bash -e "$T/quickstart.sh") >"$T/out" 2>&1
status=$?
[ $status -eq 0 ] || fail "the quick start ended with status $status"

work=$HOME/vt-first
SINK_PID=$(cat "$work/sink.pid" 2>/dev/null)
[ -d "$work/replay" ] || fail "no replay directory $work/replay"
for p in vtu_replay_gen vt_loggen vt_package_check vtu_gen_cscript vt_replay vt_sink; do
  [ -x "$HOME/.local/bin/$p" ] || fail "make install did not install $p into ~/.local/bin"
done
expected=$(sed -n 's/^expected_accepted_without_period=//p' "$T/out")
users=$(sed -n 's/^expected_users_without_period=//p' "$T/out")
[ -n "$expected" ] && [ -n "$users" ] || fail "vt_loggen's summary is missing from the output"
verdict=$("$CHECK" "$work/replay")
[ $? -eq 0 ] || fail "the package is not sound: $verdict"
[[ $verdict == *" $users users, $expected requests, 0 problems" ]] ||
  fail "the package holds other than the $users users and $expected requests vt_loggen expects: $verdict"
grep -q "^preview: the run would succeed$" "$T/out" || fail "the preview did not say the run would succeed"
grep -q "^check: vt_manifest.json: 2 workers' request and index files match" "$T/out" ||
  fail "vt_package check did not verify the manifest"
grep -q "^Processing done at " "$T/out" || fail "the run did not print its last line"
[ -s "$work/wdir/scripts/first/try/script/script.pages" ] || fail "no script was made"
# The replay: every request sent and answered, the command line shown; the
# server stopped (its summary follows its stop).
[ -n "$SINK_PID" ] || fail "vt_sink wrote no pid file"
for _ in $(seq 100); do kill -0 "$SINK_PID" 2>/dev/null || break; sleep 0.05; done
kill -0 "$SINK_PID" 2>/dev/null && fail "vt_sink is still running after the quick start"
SINK_PID=
grep -q "^  command      vt_replay replay --target http://127.0.0.1:[0-9]* --speed 20000 --quiet$" \
  "$T/out" || fail "the replay report does not show its command line"
grep -q "^  requests     planned $expected, sent $expected, completed $expected, errors 0$" "$T/out" ||
  fail "the replay did not send and complete the $expected requests"
grep -q "^vt_sink: 127.0.0.1:[0-9]* answered $expected requests (200: $expected)" "$T/out" ||
  fail "vt_sink did not answer the $expected requests"
echo "quickstart_test: $verdict; replayed against vt_sink"
