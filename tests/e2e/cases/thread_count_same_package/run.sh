# The same package whatever the loader thread count. A generated tree of
# files of many sizes over 400 services, most of them rare, so that later
# files bring services that earlier ones lack, is read with -n 1 and then
# three times each with -n 2, 3 and 7; then with another worker count, -n 1
# and twice -n 7. Every file of the package (request and index files,
# scenario, script, manifest but for its time of making), the script
# generator's input file and the service report must be byte for byte those
# of -n 1. Each thread's error log lists
# the records of the files that thread read, numbered in its own count, so
# only the lines of all logs together, without their numbers, are compared.
"$LOGGEN" --out "$WORK/logs" --days 2 --files-per-day 9 --requests 6000 --services 400 \
  --min-body 200 --max-body 2000 --large-share 0 --seed 7 --quiet >/dev/null || exit 1

# The script generators, in front of the suite's: each keeps a copy of the
# input file it is given.
mkdir -p wrap
for generator in vtu_gen_cscript vtu_gen_script; do
  cat >wrap/$generator <<WRAP
#!/bin/bash
for ((i = 1; i < \$#; i++)); do
  [ "\${!i}" = -f ] && { j=\$((i + 1)); cp "\${!j}" "$WORK/run/generator_input"; }
done
exec "$SUITE_BIN/$generator" "\$@"
WRAP
  chmod +x wrap/$generator
done

# Without -n the thread count follows the processors, counted through wc:
# the one here prints the count in cpus/count.
mkdir -p cpus
printf '#!/bin/sh\ncat >/dev/null\ncat "%s"\n' "$WORK/cpus/count" >cpus/wc
chmod +x cpus/wc

# run LABEL NUM_VVM THREADS|auto: one run in $WORK/run (every run has the same
# paths), kept in $WORK/runs/LABEL.
run() {
  rm -rf run
  mkdir -p run/wdir/scenarios/p/s
  cat >run/replay.conf <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/run/replay
SCRIPT_NAME|p/s/script
SCENARIO_NAME|p/s/threads.conf
NUM_VVM|$2
SERVICE_NAME|IArea0_Op0|POST|http://127.0.0.1/svc/Area0.svc|XACustId
CONF
  local threads=(-n "$3") path=$WORK/wrap:$SUITE_BIN:$PATH
  [ "$3" = auto ] && threads=() path=$WORK/cpus:$path
  VT_WDIR=$WORK/run/wdir PATH=$path "$TOOL" -i run/replay.conf "${threads[@]}" \
    >run/stdout 2>run/stderr
  echo "-n $3, NUM_VVM $2: status $?, $(grep -c '^  Processing Thread\[[0-9]*\] Started$' \
    run/stdout) threads"
  awk '/^# Service Name/ { on = 1 } on && !/^(# Service Name|[0-9]+ )/ { on = 0 } on' \
    run/stdout >run/service_report
  grep -hv '^#' run/replay/error.log.* | cut -d'|' -f2- | sort >run/error_lines
  rm run/replay/error.log.* run/stdout run/stderr run/replay.conf
  # The manifest's time of making is the one value that may differ.
  sed -i 's/^  "made_at": .*/  "made_at": "<DATE>",/' run/replay/vt_manifest.json
  mkdir -p runs
  mv run "runs/$1"
}

# same REFERENCE LABEL: reports every file that differs.
same() {
  local differs=0
  diff -rq "runs/$1" "runs/$2" >/dev/null || differs=1
  if [ $differs = 0 ]; then echo "$2: same as $1"; else diff -rq "runs/$1" "runs/$2"; fi
}

run one 3 1
"$PACKAGE_CHECK" runs/one/replay >/dev/null && echo "package check of -n 1 passed"
(cd runs/one && find . -type f | sort)
for threads in 2 3 7; do
  for i in 1 2 3; do
    run "n$threads.$i" 3 $threads
    same one "n$threads.$i"
  done
done
# 10 processors make 6 threads over these 18 files, 5 make 3, 3 make 1.
for cpus in 10 5 3; do
  echo "$cpus" >cpus/count
  run "auto$cpus" 3 auto
  same one "auto$cpus"
done
# A processor count that cannot be read ends the run, saying so.
: >cpus/count
rm -rf run && mkdir -p run/wdir/scenarios/p/s
printf 'INPUT_DIR|%s\nREPLAY_DIR|%s\nSCRIPT_NAME|p/s/script\nSCENARIO_NAME|p/s/t.conf\n' \
  "$WORK/logs" "$WORK/run/replay" >run/replay.conf
VT_WDIR=$WORK/run/wdir PATH=$WORK/cpus:$SUITE_BIN:$PATH "$TOOL" -i run/replay.conf >/dev/null 2>run/stderr
echo "no processor count: status $?: $(cat run/stderr)"
run one_vvm5 5 1
for i in 1 2; do
  run "n7_vvm5.$i" 5 7
  same one_vvm5 "n7_vvm5.$i"
done
