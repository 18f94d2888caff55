# Started with standard input and output closed (as some service managers
# and cron wrappers start programs), the run must not take descriptor 1 for
# a request file and write its console lines into it; nor, with standard
# error closed, its rejected-record lines. A tree of 3,000 requests and -d 2
# make enough lines to be written while the request files are open. Both
# runs end 0 with a package the checker finds sound.
. "$CASE/../../lib/safety.sh"
"$LOGGEN" --out "$WORK/logs" --requests 3000 --max-body 2000 --quiet >/dev/null
mkdir -p "$WORK/wdir/scenarios/p/s" "$WORK/wdir/scripts"
export VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH
write_conf x.conf "$WORK/replay"
"$TOOL" -i x.conf -d 2 <&- >&-
echo "status $?"
check_package "$WORK/replay"
write_conf y.conf "$WORK/replay_y" "SCRIPT_NAME|p/s/script_y" "SCENARIO_NAME|p/s/scen_y.conf"
"$TOOL" -i y.conf -d 2 <&- 2>&- >/dev/null
echo "status $?"
check_package "$WORK/replay_y"
