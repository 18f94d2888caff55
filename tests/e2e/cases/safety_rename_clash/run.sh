# OpXXX and Op rename without a clash; two pages of one name stop the run, the package whole.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay" \
  "SERVICE_NAME|OpXXX|POST|http://127.0.0.1/a" "SERVICE_NAME|Op|POST|http://127.0.0.1/b"
run_tool -i x.conf
grep "generated successfully" run.out
VT_WDIR=$WORK/wdir "$SUITE_BIN/vti_get_page" p/s/script
check_package "$WORK/replay"

# GetQuote_1 and a second GetQuote renamed GetQuote_1: the stand-in refuses one name twice.
write_conf y.conf "$WORK/replay_same" "SCRIPT_NAME|p/s/same" "SCENARIO_NAME|p/s/same.conf" \
  "SERVICE_NAME|GetQuote_1|POST|http://127.0.0.1/a" "SERVICE_NAME|GetQuote|POST|http://127.0.0.1/b" \
  "SERVICE_NAME|GetQuote|POST|http://127.0.0.1/c"
printf '#!/bin/sh\nexec timeout -k 5 60 "%s" "$@"\n' "$TOOL" >bounded_tool
chmod +x bounded_tool
TOOL=$WORK/bounded_tool run_tool -i y.conf
grep "GetQuote" run.out
check_package "$WORK/replay_same"
