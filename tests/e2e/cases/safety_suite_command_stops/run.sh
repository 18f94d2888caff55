# At the time limit, SIGTERM and SIGINT (255, 143, 130) the command's whole group ends, waited for.
. "$CASE/../../lib/safety.sh"
setup_sample
mkdir fake
cat >fake/vtu_gen_cscript <<'FAKE'
#!/bin/bash
tool=${4#/tmp/filename_}
(sleep 2 && mkdir -p "$VT_WDIR/scripts/late_$FAKE_MODE") &
echo $! >"child_$FAKE_MODE"
case $FAKE_MODE in
  TERM | INT) kill -"$FAKE_MODE" "$tool" ;;
esac
sleep 30
FAKE
chmod +x fake/vtu_gen_cscript
export FAKE_BIN=$WORK/fake

for mode in limit TERM INT; do
  echo "== $mode"
  write_conf "$mode.conf" "$WORK/replay_$mode" "SCRIPT_NAME|p/s/$mode" "SCENARIO_NAME|p/s/$mode.conf" \
    "SUITE_COMMAND_TIME_LIMIT|$([ $mode = limit ] && echo 1 || echo 60)"
  start=$SECONDS
  FAKE_MODE=$mode run_tool -i "$mode.conf" >"$mode.out"
  took=$((SECONDS - start))
  sed 's/filename_[0-9]*/filename_<PID>/' "$mode.out"
  [ $took -lt 15 ] || echo "took $took seconds"
  sleep 2.5
  [ -e "wdir/scripts/late_$mode" ] && echo "written after the run stopped"
  kill -0 "$(cat "child_$mode")" 2>/dev/null && echo "the command's child still runs"
done
exit 0
