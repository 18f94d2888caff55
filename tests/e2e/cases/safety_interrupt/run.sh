# SIGINT in Step 2, SIGTERM in the generator: its input goes, the directory is named, 128 + signal.
. "$CASE/../../lib/safety.sh"
setup_sample
mkdir fake
# Step 2's "wc -l" (the replay directory exists) interrupts the tool, its parent's parent.
cat >fake/wc <<FAKE
#!/bin/bash
cat >/dev/null
if [ -d "$WORK/replay_int" ] && [ ! -e "$WORK/pid_int" ]; then
  tool=\$(awk '{print \$4}' /proc/\$PPID/stat)
  echo \$tool >"$WORK/pid_int"
  kill -INT \$tool
fi
echo 2
FAKE
cat >fake/vtu_gen_cscript <<'FAKE'
#!/bin/bash
file=$4
echo "${file#/tmp/filename_}" >pid_term
kill -TERM "${file#/tmp/filename_}"
FAKE
chmod +x fake/wc fake/vtu_gen_cscript
export FAKE_BIN=$WORK/fake

echo "== SIGINT"
write_conf a.conf "$WORK/replay_int"
run_tool -i a.conf
[ -e "/tmp/filename_$(cat pid_int)" ] || echo "generator input file removed"
echo "== SIGTERM"
write_conf b.conf "$WORK/replay_term"
run_tool -n 1 -i b.conf
[ -e "/tmp/filename_$(cat pid_term)" ] || echo "generator input file removed"
