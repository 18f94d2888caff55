# Sessions of 20 s, a top line, -p 1, -N, three workers and -c 5 on the sample tree.
. "$CASE/../../lib/safety.sh"
cp -r "$EXAMPLES/logs" "$WORK/logs" && mkdir -p out/wdir/scenarios/p/s
write_conf replay.conf "$WORK/out/replay" "INPUT_DIR|$WORK/logs|20261201" "SCENARIO_NAME|p/s/sessions.conf" \
  "SCRIPT_TYPE|Legacy" "NUM_VVM|3" "NEW_USER_TIME|20" "REQ_TOP_LINE|TOP"
VT_WDIR=$WORK/out/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i replay.conf -n 1 -p 1 -N -c 5
echo "status $?"
"$PACKAGE_CHECK" "$WORK/out/replay"
