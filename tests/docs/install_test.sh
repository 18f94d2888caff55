#!/bin/bash
# install_test.sh SOURCE_DIR BUILD_DIR: `make install DESTDIR=...`, without and with the stand-ins,
# installs each file with its mode; `make uninstall` removes them all.
set -u
SRC=$(cd "$1" && pwd)
BUILD_DIR=$(cd "$2" && pwd)
. "$(dirname "$0")/../test_lib.sh" install_test
unset MAKEFLAGS MAKELEVEL MFLAGS
STAGE=$T/stage
PREFIX=/opt/vortan
ROOT=$STAGE$PREFIX
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
for p in vtu_replay_gen vt_loggen vt_package_check vt_package vt_replay vt_sink; do
  mode_is 755 "$ROOT/bin/$p"
  mode_is 644 "$ROOT/share/man/man1/$p.1"
  mode_is 644 "$ROOT/share/bash-completion/completions/$p"
done
[ -e "$ROOT/bin/vtu_gen_cscript" ] && fail "the suite stand-ins were installed without WITH_SUITE"

run_make install WITH_SUITE=1
for p in vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name; do
  mode_is 755 "$ROOT/bin/$p"
  mode_is 644 "$ROOT/share/man/man1/$p.1"
done

run_make uninstall
left=$(find "$STAGE" ! -type d)
[ -z "$left" ] && [ ! -d "$ROOT/share/vortan_replay_gen" ] || fail "make uninstall left: $left"

finish "install and uninstall as expected"
