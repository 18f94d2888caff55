# The same package, generator input, report and errors with any -n and worker count, 400 services.
"$LOGGEN" --out "$WORK/logs" --days 2 --files-per-day 9 --requests 6000 --services 400 \
  --min-body 200 --max-body 2000 --large-share 0 --seed 7 --quiet >/dev/null || exit 1
# Generators that keep their input, and a wc that prints cpus/count.
mkdir -p wrap cpus
for generator in vtu_gen_cscript vtu_gen_script; do
  printf '#!/bin/bash\ncp "$4" "%s/run/generator_input"\nexec "%s/%s" "$@"\n' \
    "$WORK" "$SUITE_BIN" $generator >wrap/$generator
done
printf '#!/bin/sh\ncat >/dev/null\ncat "%s"\n' "$WORK/cpus/count" >cpus/wc
chmod +x wrap/* cpus/wc

# run LABEL NUM_VVM THREADS|auto: one run at fixed paths, kept in runs/LABEL.
run() {
  rm -rf run
  mkdir -p run/wdir/scenarios/p/s runs
  printf '%s\n' "INPUT_DIR|$WORK/logs" "REPLAY_DIR|$WORK/run/replay" "SCRIPT_NAME|p/s/script" \
    "SCENARIO_NAME|p/s/threads.conf" "NUM_VVM|$2" \
    "SERVICE_NAME|IArea0_Op0|POST|http://127.0.0.1/svc/Area0.svc|XACustId" >run/replay.conf
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
  sed -i 's/^  "made_at": .*/  "made_at": "<DATE>",/' run/replay/vt_manifest.json
  mv run "runs/$1"
}
same() {
  if diff -rq "runs/$1" "runs/$2" >/dev/null; then echo "$2: same as $1"; else diff -rq "runs/$1" "runs/$2"; fi
}

run one 3 1
"$PACKAGE_CHECK" runs/one/replay >/dev/null && echo "package check of -n 1 passed"
(cd runs/one && find . -type f | sort)
for threads in 2 3 7; do
  for i in 1 2 3; do run "n$threads.$i" 3 $threads && same one "n$threads.$i"; done
done
# 10 processors make 6 threads over these 18 files, 5 make 3, 3 make 1.
for cpus in 10 5 3; do
  echo "$cpus" >cpus/count
  run "auto$cpus" 3 auto && same one "auto$cpus"
done
: >cpus/count
mkdir -p none/wdir/scenarios/p/s
printf 'INPUT_DIR|%s\nREPLAY_DIR|%s\nSCRIPT_NAME|p/s/script\nSCENARIO_NAME|p/s/t.conf\n' \
  "$WORK/logs" "$WORK/none/replay" >none/replay.conf
VT_WDIR=$WORK/none/wdir PATH=$WORK/cpus:$SUITE_BIN:$PATH "$TOOL" -i none/replay.conf >/dev/null 2>none/stderr
echo "no processor count: status $?: $(cat none/stderr)"
run one_vvm5 5 1
for i in 1 2; do run "n7_vvm5.$i" 5 7 && same one_vvm5 "n7_vvm5.$i"; done
