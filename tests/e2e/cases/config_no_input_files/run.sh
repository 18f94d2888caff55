# A log tree without log files: the replay directory is made and the run ends after Step 1 (255).
mkdir -p logs/20240101/extracts
cat >x.conf <<CONF
# replay package of an empty capture day
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/replay
SCRIPT_NAME|proj/sub/script
SCENARIO_NAME|proj/sub/scen.conf
NUM_VVM|2
HOST_HEADER|127.0.0.1:8080
HTTP_HEADER|Connection: keep-alive
SERVICE_NAME|GetQuote|POST|http://127.0.0.1:8080/quote/svc|NA|NA|Content-Type: text/xml
CONF
PATH=$SUITE_BIN:$PATH "$TOOL" -i x.conf
echo "status $?"
[ -d replay ] && echo "replay directory exists"
