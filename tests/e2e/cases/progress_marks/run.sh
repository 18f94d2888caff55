# -c 0: the default 100,000 (no mark for 12,000); -c 5000 marks 5,000 and 10,000 in Steps 2 and 4.
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 1 --requests 12000 --customers 50 \
  --services 3 --min-body 200 --max-body 300 --large-share 0 --bad-share 0 --seed 3 \
  --quiet >/dev/null || exit 1
mkdir -p wdir/scenarios/p/q
for interval in 0 5000; do
  rm -rf replay
  printf 'INPUT_DIR|%s\nREPLAY_DIR|%s\nSCRIPT_NAME|p/q/s%s\nSCENARIO_NAME|p/q/s%s.conf\n' \
    "$WORK/logs" "$WORK/replay" "$interval" "$interval" >c.conf
  echo "== -c $interval"
  VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i c.conf -n 1 -c $interval |
    grep -E 'Processed [0-9,]+ out of|Created [0-9,]+ out of'
  echo "status ${PIPESTATUS[0]}"
done
