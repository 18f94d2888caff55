# A worker count outside 1..256 is refused with its line number; later lines are not read.
cat >x.conf <<CONF
# workers
NUM_VVM|300
REPLAY_DIR|$WORK/replay
CONF
"$TOOL" -i x.conf
echo "status $?"
[ -d replay ] || echo "no replay directory"
