# A run that spills leaves no spill file behind, however it ends: stopped by
# SIGINT in Step 2, Step 3, Step 4 and while it writes the index files, and
# ended in Step 2 by an input file that the configuration lists but that
# does not exist. A generated tree of 120,000 small requests with a budget
# of 4K keeps every stage busy long enough: the run's console goes through a
# pipe, and at the line that shows the stage has begun the run is stopped
# (SIGSTOP), its spill directory looked for, and then it gets SIGINT. The
# lines that came before it stopped must not yet show the next stage.
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 4 --requests 120000 --services 30 \
  --min-body 100 --max-body 300 --large-share 0 --seed 5 --quiet >/dev/null || exit 1
day=$(ls "$WORK/logs")
mkdir -p wdir/scenarios/p/s

conf() {
  {
    echo "INPUT_DIR|$1"
    echo "REPLAY_DIR|$WORK/replay"
    echo "SCRIPT_NAME|p/s/script"
    echo "SCENARIO_NAME|p/s/int.conf"
    echo "NUM_VVM|3"
    echo "MEMORY_LIMIT|4K"
  } >x.conf
}

spill_dirs() {
  ls -d replay/vt_spill.* 2>/dev/null | wc -l
}

# The run's error lines. The address sanitizer may warn, at times, of a
# stack it cannot see when the interrupt ends the run; that warning and its
# two lines are the sanitizer's, not the run's.
errors() {
  sed -e '/ASan is ignoring requested __asan_handle_no_return/,/sanitizers\/issues\/189/d' \
    -e "s#$WORK#<WORK>#g" err
}

# stop_at STAGE TRIGGER NEXT: runs the tool, stops it at the first console
# line holding TRIGGER, and interrupts it; NEXT is the first line of the
# stage after.
stop_at() {
  local stage=$1 trigger=$2 next=$3 pid line status seen=""
  rm -rf replay console.fifo wdir/scenarios/p/s/int.conf
  mkfifo console.fifo
  # With job control, a job in the background does not start with SIGINT
  # ignored, as it would in a script.
  set -m
  # stdbuf puts its library in front of the program's: a sanitizer build
  # must be told to accept that.
  ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
    VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH stdbuf -oL "$TOOL" -i x.conf -n 1 -c 5000 \
    >console.fifo 2>err &
  pid=$!
  set +m
  {
    while IFS= read -r line; do
      case $line in
        *"$trigger"*)
          kill -STOP $pid
          # What the run wrote before it stopped.
          while IFS= read -r -t 1 line; do seen+="$line"$'\n'; done
          case $seen in *"$next"*) echo "$stage: stopped too late" ;; esac
          echo "$stage: $(spill_dirs) spill directory when stopped"
          kill -INT $pid
          kill -CONT $pid
          break
          ;;
      esac
    done
    cat >/dev/null
  } <console.fifo
  wait $pid
  status=$?
  echo "$stage: status $status, $(spill_dirs) spill directories left"
  errors
}

conf "$WORK/logs"
stop_at "Step 2" "Spill: the requests exceed" "Completed Step2"
stop_at "Step 3" "Starting Step3" "Completed Step3"
stop_at "Step 4" "Created 5,000 out of" "Completed Step4"
stop_at "index files" "# Service Name" "Scenario file creation"

# An input file listed but missing: Step 2 ends there, after the first
# file has gone to spill files.
conf "$WORK/logs|$day|SOAP.log.1,SOAP.log.9"
rm -rf replay
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i x.conf -n 1 >out 2>err
echo "missing input file: status $?, $(spill_dirs) spill directories left"
grep -c "Spill: the requests exceed" out
errors
