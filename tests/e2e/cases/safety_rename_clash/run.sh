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
