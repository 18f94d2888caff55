# Sourced by the scripts here: a work directory under $WORK_IN (else $TMPDIR or
# /tmp), removed at exit with $RES and the sink $SINK_PID stopped; fail; verdict.
set -u
WORK=$(mktemp -d "${WORK_IN:-${TMPDIR:-/tmp}}/vt_${0##*/}.XXXXXX") || exit 1
SINK_PID= RES= failed=0
trap '[ -n "$SINK_PID" ] && kill "$SINK_PID" 2>/dev/null; rm -rf "$WORK" ${RES:+"$RES"}' EXIT
fail() { echo "FAIL: $*"; failed=1; }
verdict() { [ $failed = 0 ] && echo "${0##*/}: $*"; exit $failed; }
