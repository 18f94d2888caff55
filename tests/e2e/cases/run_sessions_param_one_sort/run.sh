# Short sessions (20 s), a top line before every body, creation timestamps in
# the index (-p 1), the single-sort ordering (-N), three workers and a
# progress line every 5 requests.
cp -r "$EXAMPLES/logs" "$WORK/logs"
mkdir -p out/wdir/scenarios/p/s
cat >replay.conf <<CONF
INPUT_DIR|$WORK/logs|20261201
REPLAY_DIR|$WORK/out/replay
SCRIPT_NAME|p/s/script
SCENARIO_NAME|p/s/sessions.conf
SCRIPT_TYPE|Legacy
NUM_VVM|3
NEW_USER_TIME|20
REQ_TOP_LINE|TOP
CONF
VT_WDIR=$WORK/out/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i replay.conf -n 1 -p 1 -N -c 5
status=$?
"$PACKAGE_CHECK" "$WORK/out/replay"
exit $status
