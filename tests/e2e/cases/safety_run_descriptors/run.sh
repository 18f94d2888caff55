# While the suite's commands run, the run holds the lock on its replay
# directory, and no descriptor of a file or directory that is gone: not the
# lock on the replay directory -f removed. Each stand-in looks at the
# descriptors of the run that started it, then does its work.
cp -r "$EXAMPLES/logs" "$WORK/logs"
mkdir -p out/wdir/scenarios/demo/replay out/replay wrap
echo old >out/replay/vt_index_0
for command in vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name; do
  cat >wrap/$command <<WRAP
#!/bin/bash
p=\$PPID
while [ "\$(cat /proc/\$p/comm)" != vtu_replay_gen ]; do
  p=\$(cut -d" " -f4 "/proc/\$p/stat")
  [ "\$p" -gt 1 ] || exit 9
done
held=\$(for fd in /proc/\$p/fd/*; do readlink "\$fd"; done)
echo "$command: \$(grep -c ' (deleted)\$' <<<"\$held") gone, \$(grep -cx "$WORK/out/replay" <<<"\$held") replay directory"
exec "$SUITE_BIN/$command" "\$@"
WRAP
  chmod +x wrap/$command
done
cat >replay.conf <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/out/replay
SCRIPT_NAME|demo/replay/sample_script
SCENARIO_NAME|demo/replay/sample.conf
NUM_VVM|2
CONF
VT_WDIR=$WORK/out/wdir PATH=$WORK/wrap:$SUITE_BIN:$PATH "$TOOL" -f -i replay.conf -n 2 >run.out 2>&1
status=$?
grep -E '^vt[a-z_]*: [0-9]+ gone' run.out
exit $status
