# A configuration without SCRIPT_NAME is refused after reading; the replay
# directory has been created by then.
cat >x.conf <<CONF
REPLAY_DIR|$WORK/replay
SCENARIO_NAME|proj/sub/scen.conf
NUM_VVM|2
CONF
"$TOOL" -i x.conf
status=$?
[ -d replay ] && echo "replay directory exists"
exit $status
