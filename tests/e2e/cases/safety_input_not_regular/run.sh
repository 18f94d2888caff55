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
