# "." and ".." in SCRIPT_NAME and SCENARIO_NAME are refused: nothing outside is touched, also with -f.
. "$CASE/../../lib/safety.sh"
setup_sample
mkdir -p victim outdir.conf
echo keep >victim/keep
echo keep >outdir.conf/keep

echo "== script name leading out, with -f"
write_conf a.conf "$WORK/replay_a" "SCRIPT_NAME|../../victim"
run_tool -f -i a.conf
echo "== scenario name leading out"
write_conf b.conf "$WORK/replay_b" "SCENARIO_NAME|../../outside.conf"
run_tool -i b.conf
echo "== scenario name leading onto a directory outside, with -f"
write_conf c.conf "$WORK/replay_c" "SCENARIO_NAME|../../outdir.conf"
run_tool -f -i c.conf
echo "== a name within the tree still runs"
write_conf d.conf "$WORK/replay_d" "SCRIPT_NAME|p/s/x..y" "SCENARIO_NAME|p/s/x..y.conf"
run_tool -i d.conf >/dev/null && check_package "$WORK/replay_d"

cat victim/keep outdir.conf/keep
[ -e outside.conf ] || echo "outside.conf not written"
ls wdir/scripts/p/s wdir/scenarios/p/s
