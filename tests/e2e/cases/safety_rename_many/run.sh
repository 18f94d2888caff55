# 10,003 Legacy services: the renaming goes in several calls and every page keeps its name.
. "$CASE/../../lib/safety.sh"
setup_sample
services=()
for i in $(seq 1 10003); do services+=("SERVICE_NAME|Service_$i|POST|http://127.0.0.1/s$i"); done
write_conf x.conf "$WORK/replay" "SCRIPT_TYPE|Legacy" "${services[@]}"
run_tool -i x.conf
grep "generated successfully" run.out
VT_WDIR=$WORK/wdir "$SUITE_BIN/vti_get_page" p/s/script >pages
wc -l <pages
head -2 pages
head -10003 pages | cmp -s - <(seq 1 10003 | sed 's/^/Service_/') &&
  echo "pages 1 to 10003 carry the service names in order"
check_package "$WORK/replay"
