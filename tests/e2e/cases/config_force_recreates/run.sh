# With -f an existing replay directory is removed and created anew.
mkdir -p logs/20240101/extracts replay/old
touch replay/old/vt_req_0
cat >x.conf <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/replay
SCRIPT_NAME|proj/sub/script
SCENARIO_NAME|proj/sub/scen.conf
NUM_VVM|2
CONF
PATH=$SUITE_BIN:$PATH "$TOOL" -f -i x.conf
echo "status $?"
[ -d replay ] && [ ! -e replay/old ] && echo "replay directory created anew, old content gone"
