# A disk filling with spill files: 255, one error naming the file, no spill directory (root: tmpfs).
. "$CASE/../../lib/safety.sh"
mkdir mnt
[ "$(id -u)" = 0 ] && mount -t tmpfs -o size=256k tmpfs mnt 2>/dev/null ||
  { echo "needs root to mount a tmpfs" >"$WORK/skip"; exit 0; }
trap 'umount "$WORK/mnt" 2>/dev/null' EXIT
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 2 --requests 6000 --services 5 \
  --min-body 100 --max-body 300 --large-share 0 --seed 9 --quiet >/dev/null || exit 1
mkdir -p wdir/scenarios/p/s
write_conf x.conf "$WORK/mnt/replay" "SCENARIO_NAME|p/s/full.conf" "MEMORY_LIMIT|8K"
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i x.conf -n 1 >out 2>err
echo "status $?"
sed -E -e "s#$WORK#<WORK>#g" -e 's#vt_spill\.[A-Za-z0-9]{6}#vt_spill.XXXXXX#' err
echo "$(ls -d mnt/replay/vt_spill.* 2>/dev/null | wc -l) spill directories left"
grep -q "Processing done" out && echo "Processing done"
ls mnt/replay
