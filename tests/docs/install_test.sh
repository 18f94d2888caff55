#!/bin/bash
# `make install DESTDIR=...` into a staging directory, without and then with
# the suite stand-ins; the installed tool is run on the sample tree, its
# package checked with the installed checker and replayed by the installed
# vt_replay against the installed vt_sink on 127.0.0.1; `make uninstall`
# removes every installed file.
#
#   install_test.sh SOURCE_DIR BUILD_DIR
set -u
SRC=$(cd "$1" && pwd)
BUILD_DIR=$(cd "$2" && pwd)
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_install.XXXXXX")
SINK_PID=
trap '[ -n "$SINK_PID" ] && kill "$SINK_PID" 2>/dev/null; rm -rf "$T"' EXIT
unset MAKEFLAGS MAKELEVEL MFLAGS
STAGE=$T/stage
PREFIX=/opt/vortan
ROOT=$STAGE$PREFIX
failures=0
fail() {
  echo "install_test: $*"
  failures=$((failures + 1))
}
mode_is() {  # mode_is MODE FILE
  [ -f "$2" ] || { fail "${2#"$STAGE"} is not installed"; return; }
  local m
  m=$(stat -c %a "$2")
  [ "$m" = "$1" ] || fail "${2#"$STAGE"} has mode $m, not $1"
}
run_make() {  # run_make TARGET VARIABLES...
  make -s -C "$SRC" "$@" DESTDIR="$STAGE" PREFIX="$PREFIX" BUILD_DIR="$BUILD_DIR" \
    >>"$T/make.log" 2>&1 || { cat "$T/make.log"; fail "make $* failed"; exit 1; }
}

umask 022
run_make install
PROGRAMS=(vtu_replay_gen vt_loggen vt_package_check vt_package vt_replay vt_sink)
for p in "${PROGRAMS[@]}"; do mode_is 755 "$ROOT/bin/$p"; done
for p in "${PROGRAMS[@]}"; do mode_is 644 "$ROOT/share/man/man1/$p.1"; done
for p in "${PROGRAMS[@]}"; do mode_is 644 "$ROOT/share/bash-completion/completions/$p"; done
[ -e "$ROOT/bin/vtu_gen_cscript" ] && fail "the suite stand-ins were installed without WITH_SUITE"

run_make install WITH_SUITE=1
for p in vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name; do
  mode_is 755 "$ROOT/bin/$p"
done

# The installed programs alone, on the sample tree.
RUN=$T/run
mkdir -p "$RUN/wdir/scenarios/demo/replay"
sed -e "s#@EXAMPLES@#$SRC/examples#g" -e "s#@DEMO@#$RUN#g" "$SRC/examples/replay.conf.in" \
  >"$RUN/replay.conf"
PATH=$ROOT/bin:/usr/bin:/bin VT_WDIR=$RUN/wdir vtu_replay_gen -i "$RUN/replay.conf" -d 0 \
  >"$T/run.log" 2>&1
status=$?
[ $status -eq 0 ] || { cat "$T/run.log"; fail "the installed vtu_replay_gen ended with status $status"; }
verdict=$("$ROOT/bin/vt_package_check" "$RUN/replay" 2>&1)
[ "$verdict" = "package_check: 2 workers, 14 users, 23 requests, 0 problems" ] ||
  fail "the installed checker says: $verdict"
[ -s "$RUN/wdir/scripts/demo/replay/sample_script/script.pages" ] ||
  fail "the installed stand-ins made no script"
for p in vt_loggen vt_replay vt_sink; do
  "$ROOT/bin/$p" --version | grep -qx "$p [0-9]*\.[0-9]*\.[0-9]*" || fail "$p --version"
done
# The package replayed from the installed programs alone, 23 requests over a
# day in about a second.
PATH=$ROOT/bin:/usr/bin:/bin vt_sink --background --port-file "$T/sink.port" --pid-file "$T/sink.pid" \
  --seconds 60 >"$T/sink.out" || fail "the installed vt_sink did not start"
SINK_PID=$(cat "$T/sink.pid" 2>/dev/null)
PATH=$ROOT/bin:/usr/bin:/bin vt_replay "$RUN/replay" --target "http://127.0.0.1:$(cat "$T/sink.port")" \
  --speed 100000 --max-failed 0 >"$T/replay.out" 2>&1
status=$?
[ $status -eq 0 ] || { cat "$T/replay.out"; fail "the installed vt_replay ended with status $status"; }
grep -q "requests     planned 23, sent 23, completed 23, errors 0" "$T/replay.out" ||
  fail "the installed vt_replay: $(head -3 "$T/replay.out")"
kill "$SINK_PID"
for _ in $(seq 100); do kill -0 "$SINK_PID" 2>/dev/null || break; sleep 0.05; done
SINK_PID=
grep -q "answered 23 requests (200: 23)" "$T/sink.out" || fail "the installed vt_sink: $(cat "$T/sink.out")"

run_make uninstall
left=$(find "$STAGE" ! -type d)
[ -z "$left" ] && [ ! -d "$ROOT/share/vortan_replay_gen" ] || fail "make uninstall left: $left"

[ $failures -eq 0 ] && echo "install_test: install, run of the installed tool and uninstall all as expected"
exit $((failures > 0))
