# The sample tree end to end (one loader thread, two workers), then read back by the checker.
. "$CASE/../../lib/safety.sh"
cp -r "$EXAMPLES/logs" "$WORK/logs" && mkdir -p out/wdir/scenarios/demo/replay
write_conf replay.conf "$WORK/out/replay" "SCRIPT_NAME|demo/replay/sample_script" \
  "SCENARIO_NAME|demo/replay/sample.conf" "HOST_HEADER|127.0.0.1:8080" "HTTP_HEADER|Connection: keep-alive" \
  "SERVICE_NAME|IService_GetData|POST|http://127.0.0.1:8080/svc/Service.svc|XACustId|NA|Content-Type: text/xml; charset=utf-8" \
  "SCENARIO_KEYWORD|G_KA_PCT ALL 100"
VT_WDIR=$WORK/out/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i replay.conf -n 1
echo "status $?"
"$PACKAGE_CHECK" "$WORK/out/replay"
