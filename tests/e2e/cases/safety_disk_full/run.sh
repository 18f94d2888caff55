# A disk filling while the index files are written: 255, one error naming the file (root: a tmpfs).
. "$CASE/../../lib/safety.sh"
setup_sample
mkdir mnt
[ "$(id -u)" = 0 ] && mount -t tmpfs -o size=1m tmpfs mnt 2>/dev/null ||
  { echo "needs root to mount a tmpfs" >"$WORK/skip"; exit 0; }
umount mnt
trap 'umount "$WORK/mnt" 2>/dev/null' EXIT

# A run on the ordinary disk gives the sizes of the files before the index.
write_conf first.conf "$WORK/first" "SCRIPT_NAME|p/s/first" "SCENARIO_NAME|p/s/first.conf"
run_tool -i first.conf -n 1 >/dev/null
page=$(getconf PAGESIZE)
pages=1
for f in first/vt_req_0 first/vt_req_1 first/error.log.0; do
  size=$(stat -c %s "$f")
  pages=$((pages + (size + page - 1) / page))
done
mount -t tmpfs -o size=$((pages * page)) tmpfs mnt

write_conf x.conf "$WORK/mnt/replay"
run_tool -i x.conf -n 1
grep -q "Processing done" run.out || echo "no \"Processing done\""
