# The sample tree with a period that ends before it starts: every record is
# rejected, and the run ends after reading them, saying so, with status 255.
cp -r "$EXAMPLES/logs" "$WORK/logs"
cat >replay.conf <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/replay
SCRIPT_NAME|demo/replay/sample_script
SCENARIO_NAME|demo/replay/sample.conf
NUM_VVM|2
REPLAY_PERIOD|12/03/2026 00:00:00|12/01/2026 00:00:00
HOST_HEADER|127.0.0.1:8080
SERVICE_NAME|IService_GetData|POST|http://127.0.0.1:8080/svc/Service.svc|XACustId|NA|Content-Type: text/xml; charset=utf-8
CONF
PATH=$SUITE_BIN:$PATH "$TOOL" -i replay.conf -n 1
