# An input file that is not a regular file (a named pipe would block the
# run, a directory reads as nothing) is refused in Step 1, naming its path,
# before any loading; one that cannot be opened (a link to itself) stops the
# run with the system's reason.
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

# A named pipe put in place of an input file after Step 1 listed it: Step 2
# refuses it without waiting on it. The processor count is read through "wc
# -l" before the configuration and again when Step 2 starts, when the replay
# directory exists.
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
