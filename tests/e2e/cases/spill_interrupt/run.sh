# A spilling run stopped in Step 2, 3, 4 or the index files, or missing a file: no spill file left.
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 4 --requests 120000 --services 30 \
  --min-body 100 --max-body 300 --large-share 0 --seed 5 --quiet >/dev/null || exit 1
day=$(ls "$WORK/logs")
mkdir -p wdir/scenarios/p/s
conf() {
  printf '%s\n' "INPUT_DIR|$1" "REPLAY_DIR|$WORK/replay" "SCRIPT_NAME|p/s/script" \
    "SCENARIO_NAME|p/s/int.conf" "NUM_VVM|3" "MEMORY_LIMIT|4K" >x.conf
}
spill_dirs() { ls -d replay/vt_spill.* 2>/dev/null | wc -l; }
# The error lines, without the address sanitizer's warning of a stack the interrupt hides.
errors() {
  sed -e '/ASan is ignoring requested __asan_handle_no_return/,/sanitizers\/issues\/189/d' \
    -e "s#$WORK#<WORK>#g" err
}

# stop_at STAGE TRIGGER NEXT: stopped at the first line holding TRIGGER, then interrupted.
stop_at() {
  local stage=$1 trigger=$2 next=$3 pid line seen=""
  rm -rf replay console.fifo wdir/scenarios/p/s/int.conf
  mkfifo console.fifo
  # Job control, else SIGINT starts ignored; stdbuf's library precedes a sanitizer's.
  set -m
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
    VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH stdbuf -oL "$TOOL" -i x.conf -n 1 -c 5000 \
    >console.fifo 2>err &
  pid=$!
  set +m
  {
    while IFS= read -r line; do
      [[ $line == *"$trigger"* ]] || continue
      kill -STOP $pid
      while IFS= read -r -t 1 line; do seen+="$line"$'\n'; done
      [[ $seen == *"$next"* ]] && echo "$stage: stopped too late"
      echo "$stage: $(spill_dirs) spill directory when stopped"
      kill -INT $pid
      kill -CONT $pid
      break
    done
    cat >/dev/null
  } <console.fifo
  wait $pid
  echo "$stage: status $?, $(spill_dirs) spill directories left"
  errors
}

conf "$WORK/logs"
stop_at "Step 2" "Spill: the requests exceed" "Completed Step2"
stop_at "Step 3" "Starting Step3" "Completed Step3"
stop_at "Step 4" "Created 5,000 out of" "Completed Step4"
stop_at "index files" "# Service Name" "Scenario file creation"
# A missing listed file ends Step 2 after the first file went to spill files.
conf "$WORK/logs|$day|SOAP.log.1,SOAP.log.9"
rm -rf replay
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i x.conf -n 1 >out 2>err
echo "missing input file: status $?, $(spill_dirs) spill directories left"
grep -c "Spill: the requests exceed" out
errors
