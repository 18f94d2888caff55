#!/bin/bash
# man_pages_test.sh MAN_DIR VTU_REPLAY_GEN VT_LOGGEN VT_PACKAGE_CHECK VT_PACKAGE VT_REPLAY VT_SINK
# Every page renders without a warning, has the usual sections, every option, the others in SEE ALSO.
set -u
MAN_DIR=$1
declare -A PROGRAM=()
for p in "${@:2}"; do PROGRAM[$(basename "$p")]=$p; done
NAMES=(vtu_replay_gen vt_loggen vt_package_check vt_package vt_replay vt_sink)
. "$(dirname "$0")/../test_lib.sh" man_pages_test
command -v groff >/dev/null || { fail "groff is missing; scripts/setup.sh installs it"; exit 1; }

sections=(NAME SYNOPSIS DESCRIPTION OPTIONS FILES ENVIRONMENT '"EXIT STATUS"' EXAMPLES '"SEE ALSO"')
for name in "${NAMES[@]}"; do
  page=$MAN_DIR/$name.1
  [ -f "$page" ] || { fail "$page is missing"; continue; }

  warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1) && [ -z "$warnings" ] ||
    fail "$name.1: groff failed or warns: $warnings"

  for s in "${sections[@]}"; do
    grep -qx "\.SH $s" "$page" || fail "$name.1: no .SH $s"
  done

  # vtu_replay_gen's fixed set; the others' (and vt_package's commands') --help options.
  if [ "$name" = vtu_replay_gen ]; then
    options=(-i -f -d -c -p -u -N -n --help --version)
  else
    help=$("${PROGRAM[$name]}" --help) || fail "$name --help exited with status $?"
    if [ "$name" = vt_package ]; then
      for c in check profile plot preview; do help+=$'\n'$("${PROGRAM[$name]}" $c --help); done
    fi
    mapfile -t options < <(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
    [ ${#options[@]} -gt 1 ] || fail "$name --help lists no options"
  fi
  see_also=$(sed -n '/^\.SH "SEE ALSO"/,/^\.SH/p' "$page")
  for other in "${NAMES[@]}"; do
    [ "$other" = "$name" ] && continue
    grep -qx "\.BR $other (1),\?" <<<"$see_also" || fail "$name.1: SEE ALSO does not name $other(1)"
  done
  for o in "${options[@]}"; do
    roff=${o//-/\\-}
    grep -qE "^\.(B|BI|BR) \"?$(sed 's/\\/\\\\/g' <<<"$roff")( |\"|$)" "$page" ||
      fail "$name.1: option $o is not described"
  done
done

finish "${#NAMES[@]} pages render cleanly, describe every option and name each other"
