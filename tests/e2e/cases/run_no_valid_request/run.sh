# A period that ends before it starts rejects every record: the run says so and ends 255.
. "$CASE/../../lib/safety.sh"
cp -r "$EXAMPLES/logs" "$WORK/logs"
write_conf replay.conf "$WORK/replay" "REPLAY_PERIOD|12/03/2026 00:00:00|12/01/2026 00:00:00" \
  "HOST_HEADER|127.0.0.1:8080" \
  "SERVICE_NAME|IService_GetData|POST|http://127.0.0.1:8080/svc/Service.svc|XACustId|NA|Content-Type: text/xml; charset=utf-8"
PATH=$SUITE_BIN:$PATH "$TOOL" -i replay.conf -n 1
