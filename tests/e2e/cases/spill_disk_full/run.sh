# A disk that fills while the run writes its spill files: the run ends with
# status 255 and one error naming the spill file and the system's reason,
# and leaves no spill directory. The replay directory is on a tmpfs of 256
# KiB, which the error logs fit but not the sorted runs of 6,000 requests
# under a budget of 8K; mounting needs root, so the case is skipped
# elsewhere.
mkdir mnt
if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o size=256k tmpfs mnt 2>/dev/null; then
  echo "needs root to mount a tmpfs" >"$WORK/skip"
  exit 0
fi
trap 'umount "$WORK/mnt" 2>/dev/null' EXIT
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 2 --requests 6000 --services 5 \
  --min-body 100 --max-body 300 --large-share 0 --seed 9 --quiet >/dev/null || exit 1
mkdir -p wdir/scenarios/p/s
cat >x.conf <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/mnt/replay
SCRIPT_NAME|p/s/script
SCENARIO_NAME|p/s/full.conf
NUM_VVM|2
MEMORY_LIMIT|8K
CONF
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i x.conf -n 1 >out 2>err
echo "status $?"
sed -E -e "s#$WORK#<WORK>#g" -e 's#vt_spill\.[A-Za-z0-9]{6}#vt_spill.XXXXXX#' err
echo "$(ls -d mnt/replay/vt_spill.* 2>/dev/null | wc -l) spill directories left"
grep -q "Processing done" out && echo "Processing done"
ls mnt/replay
