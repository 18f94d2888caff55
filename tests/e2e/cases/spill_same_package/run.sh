# Under any memory budget the run makes the package of a run without one
# (its manifest, with every file's digest, included).
# A generated tree (6,000 requests over 30 services, a third of them with a
# creation timestamp, some rejected) is read without MEMORY_LIMIT and with
# budgets of 8K (many sorted runs: several merge passes in every sort) and
# 256K (one merge each), with -n 1, -N, -u, -p 1 and -n 3, and the whole
# -d 2 trace (with and without -N) with 8K and 512K (and the service ids of -d 4, also
# with three loader threads). The request and
# index files, the error logs, the scenario, the script and the console must
# be those of the run without a budget, but for the lines of the run's own
# that report spilling. With -n 3 the loader threads take the files as they
# come, in any run: there the error logs are compared as the lines of all of
# them without their numbers, and the console without the lines that name a
# thread. No spill directory may be left behind. A copy of the tree with
# its times cut to 1,000 seconds, where every request shares its time with
# some 70 others (and customers their sessions' first times), is read as
# well, and one where every request has the same time: the run must break
# every tie the way the run without a budget does, also with runs long
# enough (256K) for the sort to leave ties in an order of its own.
"$LOGGEN" --out "$WORK/logs" --days 1 --files-per-day 5 --requests 6000 --services 30 \
  --min-body 100 --max-body 600 --large-share 0 --creation-ts-share 0.3 --seed 3 \
  --quiet >/dev/null || exit 1
cp -r "$WORK/logs" "$WORK/ties"
find "$WORK/ties" -type f -exec sed -i -E \
  's/^(RequestTimeEx=[0-9]+)[0-9]{3}\.[0-9]+/\1000.000000/' {} +
cp -r "$WORK/logs" "$WORK/one_time"
find "$WORK/one_time" -type f -exec sed -i -E 's/^RequestTimeEx=.*/RequestTimeEx=1796084000.0/' {} +

# run LABEL LIMIT ARG...: one run in $WORK/run (every run has the same paths),
# kept in $WORK/runs/LABEL; LIMIT "none" leaves MEMORY_LIMIT out. The tree
# is $WORK/$TREE.
TREE=logs
run() {
  local label=$1 limit=$2
  shift 2
  rm -rf run
  mkdir -p run/wdir/scenarios/p/s
  {
    echo "INPUT_DIR|$WORK/$TREE"
    echo "REPLAY_DIR|$WORK/run/replay"
    echo "SCRIPT_NAME|p/s/script"
    echo "SCENARIO_NAME|p/s/spill.conf"
    echo "NUM_VVM|3"
    [ "$limit" = none ] || echo "MEMORY_LIMIT|$limit"
  } >run/replay.conf
  VT_WDIR=$WORK/run/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i run/replay.conf -c 1000 "$@" \
    >run/stdout 2>run/stderr
  echo "status $?" >>run/stderr
  ls run/replay | grep vt_spill && echo "$label: spill directory left behind"
  # The manifest says when it was made.
  sed -i -E 's#"made_at": "[^"]*"#"made_at": "<DATE>"#' run/replay/vt_manifest.json
  grep '^  Spill: ' run/stdout >run/spill_lines
  # Dates, durations and the pointers of -d 4 differ from run to run, and so
  # does the place of the main thread's report that a loader thread started
  # (with its empty line).
  sed -E -e '/^  Spill: /d' -e '/^memory_budget:/d' -e 's#[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}#<DATE>#g' \
    -e 's#[0-9,]+ minutes and [0-9,]+ seconds#<N>#g' -e 's#/tmp/filename_[0-9]+#<F>#g' -e 's#0x[0-9a-f]+#<PTR>#g' \
    run/stdout | sed -E '/^  Processing Thread\[[0-9]+\] Started$/{N;d}' >run/console
  rm run/stdout run/replay.conf
  mkdir -p runs
  mv run "runs/$label"
}

# threads_apart LABEL: the -n 3 form of a run, with its error logs as the
# lines of all of them without their numbers and its console without the
# lines that name a thread and the running totals of those threads.
threads_apart() {
  local d=runs/$1
  grep -hv '^#' "$d"/replay/error.log.* | cut -d'|' -f2- | sort >"$d/error_lines"
  rm "$d"/replay/error.log.*
  grep -v -e 'Processing Thread\[' -e '^    Total request processed = ' -e '^$' "$d/console" \
    >"$d/console.threads"
  mv "$d/console.threads" "$d/console"
}

# merges LABEL: how many merges the run's sorts took, as its last spill
# line says.
merges() {
  local line
  line=$(grep -o 'merges: .* in user order' "runs/$1/spill_lines")
  case $line in
    "merges: 1 in uid/time order, 1 in time order, 1 in user order") echo "one merge each" ;;
    "") echo "no spilling" ;;
    *) echo "several merge passes" ;;
  esac
}

# same REFERENCE LABEL: reports every file that differs.
same() {
  if diff -rq -x spill_lines "runs/$1" "runs/$2" >/dev/null; then
    echo "$2: same as $1 ($(merges "$2"), $(wc -l <"runs/$2/console") console lines)"
  else
    diff -rq -x spill_lines "runs/$1" "runs/$2"
    diff "runs/$1/console" "runs/$2/console" | head -20
  fi
}

for opts in "-n 1" "-n 1 -N" "-n 1 -u" "-n 1 -p 1"; do
  label=${opts// /}
  run "$label" none $opts
  for limit in 8K 256K; do
    run "$label.$limit" $limit $opts
    same "$label" "$label.$limit"
  done
done
for opts in "-n 1 -d 2" "-n 1 -N -d 2"; do
  label=${opts// /}
  run "$label" none $opts
  # With 512K the run spills once some input files are open: the spill files
  # made then leave the input files the descriptors (shown at -d 2) they
  # have without a budget.
  for limit in 8K 512K; do
    run "$label.$limit" $limit $opts
    same "$label" "$label.$limit"
  done
done
# -d 4 lists every record's service id in seq order, which a run that spills
# reads back from its sorted runs, a few thousand records at a time: with 8K
# many short runs, with 1M runs longer than one such read. (The rest of its
# trace follows the writer threads.)
run -n1-d4 none -n 1 -d 4
for limit in 8K 1M; do
  run "-n1-d4.$limit" $limit -n 1 -d 4
done
# Three loader threads number the services each meets on their own; the
# ids they come to are the run's all the same.
run -n3-d4.8K 8K -n 3 -d 4
for label in -n1-d4 -n1-d4.8K -n1-d4.1M -n3-d4.8K; do
  grep 'seq_data_arr\[seq_no\].service_id' "runs/$label/console" >"runs/$label.ids"
done
for label in -n1-d4.8K -n1-d4.1M -n3-d4.8K; do
  cmp -s runs/-n1-d4.ids "runs/$label.ids" &&
    echo "$label: the service ids of -n1-d4 ($(wc -l <runs/-n1-d4.ids) lines, $(sort -u runs/-n1-d4.ids | wc -l) ids)"
done
"$PACKAGE_CHECK" runs/-n1.8K/replay >/dev/null && echo "package check of -n 1 with 8K passed"
run n3 none -n 3
threads_apart n3
for i in 1 2; do
  run "n3.8K.$i" 8K -n 3
  threads_apart "n3.8K.$i"
  same n3 "n3.8K.$i"
done
TREE=ties
for opts in "-n 1" "-n 1 -N"; do
  label=ties${opts// /}
  run "$label" none $opts
  for limit in 8K 256K; do
    run "$label.$limit" $limit $opts
    same "$label" "$label.$limit"
  done
done
TREE=one_time
run one_time none -n 1
for limit in 8K 256K; do
  run "one_time.$limit" $limit -n 1
  same one_time "one_time.$limit"
done
TREE=ties
run ties-n3 none -n 3
threads_apart ties-n3
run ties-n3.8K 8K -n 3
threads_apart ties-n3.8K
same ties-n3 ties-n3.8K
# Fewer requests than the loader threads count in steps of (64), more than
# a budget of 4K holds (20): the run decides to spill once all are read.
"$LOGGEN" --out "$WORK/few" --days 1 --files-per-day 1 --requests 50 --services 3 --seed 4 \
  --quiet >/dev/null || exit 1
TREE=few
run few none -n 1
run few.4K 4K -n 1
same few few.4K
# The same file twice: each request has a twin of its customer and time in
# the other file. The one in the first file opens the session, as the -d 2
# trace shows by the session key it names for each request.
cp -r "$WORK/few" "$WORK/twice"
one=$(find "$WORK/twice" -type f)
cp "$one" "${one%.*}.2"
TREE=twice
run twice none -n 1 -d 2
run twice.4K 4K -n 1 -d 2
same twice twice.4K
# Sessions that have ended are let go as the walk goes on: with 256K the
# open ones never take more than their quarter of the budget.
grep 'sessions are open at once' runs/-n1.256K/spill_lines ||
  echo "-n1.256K: the open sessions kept within their share"
# The spill lines say where the runs went and that they are gone.
sed -E 's#vt_spill\.[A-Za-z0-9]{6}#vt_spill.XXXXXX#g; s#[0-9.]+ (KiB|MiB) written#<SIZE> written#' \
  runs/-n1.8K/spill_lines
