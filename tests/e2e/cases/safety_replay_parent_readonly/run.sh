# Parents of REPLAY_DIR that cannot be made are refused with the first failure's reason (root only).
. "$CASE/../../lib/safety.sh"
setup_sample
mkdir ro
[ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && mount -t tmpfs -o ro,size=64k tmpfs ro 2>/dev/null ||
  { echo "needs root to mount a read-only tmpfs" >"$WORK/skip"; exit 0; }
trap 'umount "$WORK/ro" 2>/dev/null' EXIT
echo "== read-only"
write_conf a.conf "$WORK/ro/a/b/replay"
run_tool -i a.conf
echo "== no permission"
chmod 755 "$WORK"
mkdir -m 555 locked
write_conf b.conf "$WORK/locked/a/replay"
setpriv --reuid=65534 --regid=65534 --clear-groups "$TOOL" -i b.conf >/dev/null 2>run.err
echo "status $?"
cat run.err
