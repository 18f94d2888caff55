# For the trace cases: four records of two services (one rejected), one worker, traced keywords.
n=0
record() {  # record TIME ACTION URL UID
  echo "RequestTimeEx=$1"
  [ -n "$2" ] && echo "HTTP_SOAPACTION=\"urn:Store/$2\""
  echo "URL=/svc/$3"
  [ "$1" = 1795000003.0 ] && echo "RequestTimeEx=17950"
  n=$((n + 1))
  printf 'xml1=00000000%s<Envelope><Body>\n<XACustId>%s</XACustId>\n' "$n" "$4"
  printf '</Body></Envelope>&xmlEnd=00\n*******\n'
}
mkdir -p logs/20261201/extracts out/wdir/scenarios/p/q
{
  record 1795000000.123456 IService/GetData Service.svc 1001
  record 1795000002.500000 IOrders/PutOrder Orders.svc 1002
  record 1795000003.0 "" Orders.svc 1003
  record 1795000004.000000 IService/GetData Service.svc 1001
} >logs/20261201/extracts/SOAP.log.1
printf 'INPUT_DIR|%s\nREPLAY_DIR|%s\nSCRIPT_NAME|p/q/script\nSCENARIO_NAME|p/q/s.conf\nNUM_VVM|1\n' \
  "$WORK/logs" "$WORK/out/replay" >replay.conf
cat >>replay.conf <<'CONF'
SERVICE_NAME|IService_GetData|POST|http://h/svc/Service.svc|NA|pre_|X-Svc: 1
HTTP_HEADER|X-All: 2
REQ_TOP_LINE|top
SCENARIO_KEYWORD|KW 1
NEW_USER_TIME|10:00
HTTP_VERSION|1.1
IGNORE_HEADER|0
REPLAY_PERIOD|NA|NA
MSG_COUNT_PER_FILE|20000
CONF

# trace_run OPTIONS...: the run, pointers and descriptor numbers masked.
trace_run() {
  VT_WDIR=$WORK/out/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i replay.conf -n 1 -c 1 "$@" |
    sed -E -e 's/0x[0-9a-f]+/<PTR>/g' -e 's/(fdin|fdout) (= )?[0-9]+/\1 \2<FD>/g'
  return "${PIPESTATUS[0]}"
}
