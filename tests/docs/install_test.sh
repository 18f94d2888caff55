#!/bin/bash
# `make install DESTDIR=...` into a staging directory, without and then with
# the suite stand-ins; the installed tool is run on the sample tree and its
# package checked with the installed checker; `make uninstall` removes every
# installed file.
#
#   install_test.sh SOURCE_DIR BUILD_DIR
set -u
SRC=$(cd "$1" && pwd)
BUILD_DIR=$(cd "$2" && pwd)
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_install.XXXXXX")
trap 'rm -rf "$T"' EXIT
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
for p in vtu_replay_gen vt_loggen vt_package_check vt_package; do mode_is 755 "$ROOT/bin/$p"; done
for p in vtu_replay_gen vt_loggen vt_package_check vt_package; do mode_is 644 "$ROOT/share/man/man1/$p.1"; done
for p in vtu_replay_gen vt_loggen vt_package_check vt_package; do
  mode_is 644 "$ROOT/share/bash-completion/completions/$p"
done
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
"$ROOT/bin/vt_loggen" --version | grep -qx 'vt_loggen [0-9.]*' || fail "vt_loggen --version"

run_make uninstall
left=$(find "$STAGE" ! -type d)
[ -z "$left" ] && [ ! -d "$ROOT/share/vortan_replay_gen" ] || fail "make uninstall left: $left"

[ $failures -eq 0 ] && echo "install_test: install, run of the installed tool and uninstall all as expected"
exit $((failures > 0))
