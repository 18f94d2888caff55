# A pipe or directory as input: refused in Step 1, a link loop with its reason, a late pipe in 2.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
mkfifo logs/20261201/extracts/SOAP.log.3
timeout 60 bash -c '. "$CASE/../../lib/safety.sh"; run_tool -i x.conf'
grep -q "Starting Step2" run.out || echo "Step 2 never started"
rm logs/20261201/extracts/SOAP.log.3
mkdir logs/20261202/extracts/SOAP.log.2
write_conf y.conf "$WORK/replay_y"
run_tool -i y.conf
rmdir logs/20261202/extracts/SOAP.log.2
ln -s SOAP.log.5 logs/20261202/extracts/SOAP.log.5
write_conf z.conf "$WORK/replay_z"
run_tool -i z.conf -n 1
rm logs/20261202/extracts/SOAP.log.5

# A pipe swapped in once the replay directory exists (the second "wc -l", as Step 2 starts).
mkdir fake
cat >fake/wc <<FAKE
#!/bin/bash
cat >/dev/null
if [ -d "$WORK/replay_w" ] && [ -f "$WORK/logs/20261202/extracts/SOAP.log.1" ]; then
  rm "$WORK/logs/20261202/extracts/SOAP.log.1"
  mkfifo "$WORK/logs/20261202/extracts/SOAP.log.1"
fi
echo 2
FAKE
chmod +x fake/wc
write_conf w.conf "$WORK/replay_w"
timeout 60 bash -c '. "$CASE/../../lib/safety.sh"; FAKE_BIN=$WORK/fake run_tool -i w.conf'
