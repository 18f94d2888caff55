# Without -f an existing replay directory stops the run and is left alone.
mkdir -p replay
touch replay/keep
cat >x.conf <<CONF
REPLAY_DIR|$WORK/replay
SCRIPT_NAME|proj/sub/script
SCENARIO_NAME|proj/sub/scen.conf
CONF
"$TOOL" -i x.conf
echo "status $?"
ls replay
