# A user's index line over a megabyte, then 5,000 one-request users: spilled, the unspilled lines.
mkdir -p logs/20261201/extracts
awk 'BEGIN {
  for (i = 1; i <= 60000; i++) {
    printf "RequestTimeEx=%d.%06d\n", 1795000000 + int(i / 1000), (i % 1000) * 1000
    printf "HTTP_SOAPACTION=\"urn:Store/IService/Op%d\"\nURL=/svc/Service.svc\n", i % 3
    printf "xml1=%09d<Op><XACustId>1</XACustId><Item>%d</Item></Op>&xmlEnd=00\n*******\n\n", i, i
  }
  for (i = 1; i <= 5000; i++) {
    printf "RequestTimeEx=%d.000000\nHTTP_SOAPACTION=\"urn:Store/IService/Op0\"\n", 1795000100 + i
    printf "URL=/svc/Service.svc\nxml1=%09d<Op><XACustId>%d</XACustId></Op>&xmlEnd=00\n*******\n\n", 60000 + i, 2000 + i
  }
}' >logs/20261201/extracts/SOAP.log.1
. "$CASE/../../lib/safety.sh"

# run LABEL [LINE]: a run into LABEL/replay, LINE added to its configuration.
run() {
  mkdir -p "$1/wdir/scenarios/p/s"
  write_conf "$1/replay.conf" "$WORK/$1/replay" "SCENARIO_NAME|p/s/long.conf" "${@:2}"
  VT_WDIR=$WORK/$1/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i "$1/replay.conf" >"$1/stdout" 2>&1
  echo "$1: status $?"
}
run whole
run spilled "MEMORY_LIMIT|256K"
grep -q '^  Spill: ' spilled/stdout || echo "the run with a budget did not spill"
awk 'length($0) > 1048576 { n++ } END { print n + 0, "index lines over a megabyte" }' \
  whole/replay/vt_index_*
for f in whole/replay/vt_index_* whole/replay/vt_req_*; do
  cmp -s "$f" "spilled/${f#whole/}" || echo "${f#whole/replay/} differs"
done
