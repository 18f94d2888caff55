# Under any budget the run makes what it makes without one, over several trees and options.
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 5 --requests 6000 --services 30 \
  --min-body 100 --max-body 600 --large-share 0 --creation-ts-share 0.3 --seed 3 \
  --quiet >/dev/null || exit 1
cp -r "$WORK/logs" "$WORK/ties"
find "$WORK/ties" -type f -exec sed -i -E \
  's/^(RequestTimeEx=[0-9]+)[0-9]{3}\.[0-9]+/\1000.000000/' {} +
cp -r "$WORK/logs" "$WORK/one_time"
find "$WORK/one_time" -type f -exec sed -i -E 's/^RequestTimeEx=.*/RequestTimeEx=1796084000.0/' {} +

# run LABEL LIMIT|none ARG...: one run of $WORK/$TREE at fixed paths, kept in runs/LABEL.
TREE=logs
run() {
  local label=$1 limit=$2
  shift 2
  rm -rf run
  mkdir -p run/wdir/scenarios/p/s runs
  printf '%s\n' "INPUT_DIR|$WORK/$TREE" "REPLAY_DIR|$WORK/run/replay" "SCRIPT_NAME|p/s/script" \
    "SCENARIO_NAME|p/s/spill.conf" "NUM_VVM|3" >run/replay.conf
  [ "$limit" = none ] || echo "MEMORY_LIMIT|$limit" >>run/replay.conf
  VT_WDIR=$WORK/run/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i run/replay.conf -c 1000 "$@" \
    >run/stdout 2>run/stderr
  echo "status $?" >>run/stderr
  ls run/replay | grep vt_spill && echo "$label: spill directory left behind"
  sed -i -E 's#"made_at": "[^"]*"#"made_at": "<DATE>"#' run/replay/vt_manifest.json
  grep '^  Spill: ' run/stdout >run/spill_lines
  sed -E -e '/^  Spill: /d' -e '/^memory_budget:/d' -e 's#[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9:]{8}#<DATE>#g' \
    -e 's#[0-9,]+ minutes and [0-9,]+ seconds#<N>#g' -e 's#/tmp/filename_[0-9]+#<F>#g' -e 's#0x[0-9a-f]+#<PTR>#g' \
    run/stdout | sed -E '/^  Processing Thread\[[0-9]+\] Started$/{N;d}' >run/console
  rm run/stdout run/replay.conf
  if [ "${THREADS_APART:-0}" = 1 ]; then
    grep -hv '^#' run/replay/error.log.* | cut -d'|' -f2- | sort >run/error_lines
    rm run/replay/error.log.*
    grep -v -e 'Processing Thread\[' -e '^    Total request processed = ' -e '^$' run/console >run/c
    mv run/c run/console
  fi
  mv run "runs/$label"
}

# same REFERENCE LABEL: every file that differs, or how the sorts merged.
same() {
  if diff -rq -x spill_lines "runs/$1" "runs/$2" >/dev/null; then
    local merges="several merge passes"
    grep -q 'merges: 1 in uid/time order, 1 in time order, 1 in user order' "runs/$2/spill_lines" &&
      merges="one merge each"
    echo "$2: same as $1 ($merges, $(wc -l <"runs/$2/console") console lines)"
  else
    diff -rq -x spill_lines "runs/$1" "runs/$2"
    diff "runs/$1/console" "runs/$2/console" | head -20
  fi
}

# budgets LABEL "LIMIT..." ARG...: the run without a budget, then with each.
budgets() {
  local label=$1 limits=$2
  shift 2
  run "$label" none "$@"
  for limit in $limits; do
    run "$label.$limit" "$limit" "$@"
    same "$label" "$label.$limit"
  done
}

for opts in "-n 1" "-n 1 -N" "-n 1 -u" "-n 1 -p 1"; do budgets "${opts// /}" "8K 256K" $opts; done
# 512K spills with input files open: they keep the descriptors (-d 2) of the run without one.
for opts in "-n 1 -d 2" "-n 1 -N -d 2"; do budgets "${opts// /}" "8K 512K" $opts; done
# -d 4 service ids, read back in pieces (1M: runs longer than a piece), and with three threads.
run -n1-d4 none -n 1 -d 4
for label in -n1-d4.8K -n1-d4.1M -n3-d4.8K; do
  limit=${label#*.} && n=${label:2:1}
  run "$label" "$limit" -n "$n" -d 4
done
for label in -n1-d4 -n1-d4.8K -n1-d4.1M -n3-d4.8K; do
  grep 'seq_data_arr\[seq_no\].service_id' "runs/$label/console" >"runs/$label.ids"
  [ $label = -n1-d4 ] || ! cmp -s runs/-n1-d4.ids "runs/$label.ids" ||
    echo "$label: the service ids of -n1-d4 ($(wc -l <runs/-n1-d4.ids) lines, $(sort -u runs/-n1-d4.ids | wc -l) ids)"
done
"$PACKAGE_CHECK" runs/-n1.8K/replay >/dev/null && echo "package check of -n 1 with 8K passed"
THREADS_APART=1 run n3 none -n 3
for i in 1 2; do
  THREADS_APART=1 run "n3.8K.$i" 8K -n 3
  same n3 "n3.8K.$i"
done
TREE=ties
for opts in "-n 1" "-n 1 -N"; do budgets "ties${opts// /}" "8K 256K" $opts; done
TREE=one_time budgets one_time "8K 256K" -n 1
TREE=ties THREADS_APART=1 budgets ties-n3 8K -n 3
# Fewer requests than a loader's step (64) spill once all are read; twice one file (-d 2 keys).
"$LOGGEN" --out "$WORK/few" --days 1 --files-per-day 1 --requests 50 --services 3 --seed 4 \
  --quiet >/dev/null || exit 1
TREE=few budgets few 4K -n 1
cp -r "$WORK/few" "$WORK/twice"
one=$(find "$WORK/twice" -type f)
cp "$one" "${one%.*}.2"
TREE=twice budgets twice 4K -n 1 -d 2
grep 'sessions are open at once' runs/-n1.256K/spill_lines ||
  echo "-n1.256K: the open sessions kept within their share"
sed -E 's#vt_spill\.[A-Za-z0-9]{6}#vt_spill.XXXXXX#g; s#[0-9.]+ (KiB|MiB) written#<SIZE> written#' \
  runs/-n1.8K/spill_lines
