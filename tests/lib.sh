# Sourced by the end-to-end scripts: $WORK (under $WORK_IN, $TMPDIR or /tmp) and $RES removed,
# $SINK_PID stopped at exit; fail; verdict.
set -u
WORK=$(mktemp -d "${WORK_IN:-${TMPDIR:-/tmp}}/vt_${0##*/}.XXXXXX") || exit 1
SINK_PID= RES= failed=0
trap '[ -n "$SINK_PID" ] && kill "$SINK_PID" 2>/dev/null; rm -rf "$WORK" ${RES:+"$RES"}' EXIT
fail() { echo "FAIL: $*"; failed=1; }
verdict() { [ $failed = 0 ] && echo "${0##*/}: $*"; exit $failed; }
