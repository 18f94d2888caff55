# Helpers of the safety cases. setup_sample: the sample tree in $WORK/logs, an empty $WORK/wdir.
setup_sample() {
  cp -r "$EXAMPLES/logs" "$WORK/logs"
  mkdir -p "$WORK/wdir/scenarios/p/s" "$WORK/wdir/scripts"
}

# write_conf FILE REPLAY_DIR [LINE...]: two workers on the sample tree, LINEs appended (later wins).
write_conf() {
  local file=$1 replay=$2
  shift 2
  {
    echo "INPUT_DIR|$WORK/logs"
    echo "REPLAY_DIR|$replay"
    echo "SCRIPT_NAME|p/s/script"
    echo "SCENARIO_NAME|p/s/scen.conf"
    echo "NUM_VVM|2"
    [ $# -gt 0 ] && printf '%s\n' "$@"
  } >"$file"
}

# run_tool ARG...: the tool with the stand-ins, stdout in run.out; prints its status and stderr.
run_tool() {
  VT_WDIR=${VT_WDIR:-$WORK/wdir} PATH=${FAKE_BIN:+$FAKE_BIN:}$SUITE_BIN:$PATH \
    bash -c 'echo $$ >tool.pid; exec "$TOOL" "$@"' tool "$@" >run.out 2>run.err
  local status=$?
  echo "status $status"
  cat run.err
  return $status
}

# check_package DIR: the independent checker's verdict.
check_package() {
  "$PACKAGE_CHECK" "$1" >check.out 2>&1 && echo "package checks clean" && return
  echo "package check failed:" && cat check.out
}
