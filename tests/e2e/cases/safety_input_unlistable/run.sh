# An extracts directory that cannot be listed (a link loop, no permission) stops the run naming it.
. "$CASE/../../lib/safety.sh"
setup_sample
echo "== a link loop"
mv logs/20261202/extracts logs/20261202/kept
ln -s extracts logs/20261202/extracts
write_conf a.conf "$WORK/replay_a"
run_tool -i a.conf
rm logs/20261202/extracts
mv logs/20261202/kept logs/20261202/extracts

echo "== no permission to read it"
AS_USER=""
if [ "$(id -u)" = 0 ]; then
  command -v setpriv >/dev/null || { echo "setpriv is needed to run as another user" >skip; exit 0; }
  AS_USER="setpriv --reuid=65534 --regid=65534 --clear-groups"
  chmod 755 "$WORK"
fi
mkdir -m 1777 pub
chmod 000 logs/20261202/extracts
write_conf b.conf "$WORK/pub/replay_b" "INPUT_DIR|$WORK/logs|20261201,20261202"
PATH=$SUITE_BIN:$PATH $AS_USER "$TOOL" -i b.conf >/dev/null
echo "status $?"
chmod 755 logs/20261202/extracts
