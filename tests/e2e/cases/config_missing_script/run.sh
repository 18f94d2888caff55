# No SCRIPT_NAME is refused after reading; -f keeps an old replay directory for a bad configuration.
cat >x.conf <<CONF
REPLAY_DIR|$WORK/replay
SCENARIO_NAME|proj/sub/scen.conf
NUM_VVM|2
CONF
"$TOOL" -i x.conf
echo "status $?"
[ -d replay ] && echo "replay directory exists"
mkdir -p old/package
sed "s#$WORK/replay#$WORK/old#" x.conf >f.conf
"$TOOL" -f -i f.conf
echo "-f: status $?"
[ -d old/package ] && echo "-f: the old replay directory is kept"
