# Services named OpXXX and Op: the temporary names of the page renaming
# ("XXX" appended) would clash with a new name, so others are chosen, and
# every page ends with its service's name.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay" \
  "SERVICE_NAME|OpXXX|POST|http://127.0.0.1/a" "SERVICE_NAME|Op|POST|http://127.0.0.1/b"
run_tool -i x.conf
grep "generated successfully" run.out
VT_WDIR=$WORK/wdir "$SUITE_BIN/vti_get_page" p/s/script
check_package "$WORK/replay"

# A configured GetQuote_1 and a second GetQuote renamed GetQuote_1 end with
# one name. The tool asks for it and ends; the stand-in refuses to give two
# pages one name, so the run stops naming the refusal, its package whole.
write_conf y.conf "$WORK/replay_same" "SCRIPT_NAME|p/s/same" "SCENARIO_NAME|p/s/same.conf" \
  "SERVICE_NAME|GetQuote_1|POST|http://127.0.0.1/a" "SERVICE_NAME|GetQuote|POST|http://127.0.0.1/b" \
  "SERVICE_NAME|GetQuote|POST|http://127.0.0.1/c"
printf '#!/bin/sh\nexec timeout -k 5 60 "%s" "$@"\n' "$TOOL" >bounded_tool
chmod +x bounded_tool
TOOL=$WORK/bounded_tool run_tool -i y.conf
grep "GetQuote" run.out
check_package "$WORK/replay_same"
