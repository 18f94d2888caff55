# SIGINT during Step 2 and SIGTERM while the script generator runs: the tool
# removes its generator input file, says which replay directory it leaves
# incomplete, and ends with status 128 + the signal number.
. "$CASE/../../lib/safety.sh"
setup_sample
mkdir fake
# Step 2 reads the CPU count through "wc -l" once the replay directory
# exists; the tool is the parent of the shell that runs it.
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
# The generator gets the input file's name, which holds the tool's id.
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
