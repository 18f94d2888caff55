# Descriptor limits of 1024 and 40 run whole, one too low is named; inherited ones above 2 closed.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  [ "$fd" -gt 2 ] && [ "$fd" != 255 ] && eval "exec $fd>&-"
done
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
(ulimit -n 1024 && run_tool -i x.conf -n 1) && check_package "$WORK/replay"
write_conf y.conf "$WORK/replay_40" "SCRIPT_NAME|p/s/s40" "SCENARIO_NAME|p/s/s40.conf"
(ulimit -n 40 && run_tool -i y.conf -n 1) && check_package "$WORK/replay_40"
write_conf z.conf "$WORK/replay_20"
(ulimit -n 20 && run_tool -i z.conf -n 1 | sed -E 's/ \(open file limit.*//')
write_conf w.conf "$WORK/replay_5"
(ulimit -n 5 && exec "$TOOL" -i w.conf) >/dev/null 2>run.err
echo "status $?"
cat run.err
[ -e replay_5 ] || echo "no replay directory"
