# Started with 0 and 1 (then 0 and 2) closed: no console line in a request file, a sound package.
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
