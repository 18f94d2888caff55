# Numbers are read whole: too large or trailing text is refused, quoting it; nothing wraps around.
. "$CASE/../../lib/safety.sh"
setup_sample
n=0
try() {
  n=$((n + 1))
  local opts=$1
  shift
  write_conf c$n.conf "$WORK/replay_$n" "$@"
  echo "== $opts $*"
  run_tool $opts -i c$n.conf
}
try "" "NEW_USER_TIME|4294968"
try "" "NEW_USER_TIME|1193:02:47.297"
try "-n 65537"
try "" "NUM_VVM|2x"
try "" "MSG_COUNT_PER_FILE|20000x"
try "" "MSG_COUNT_PER_FILE|99999999999999999999"
echo "== the largest values that fit still run"
try "-n 2" "NEW_USER_TIME|596:31:23.647" >/dev/null && check_package "$WORK/replay_$n"
