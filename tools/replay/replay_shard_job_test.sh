#!/bin/bash
# replay_shard_job_test.sh VT_REPLAY VT_SINK EXAMPLES_KUBERNETES_DIR: shards merged as one run; refusals.
set -u
REPLAY=$1 SINK=$2 KUBE=$3
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_shard_job.XXXXXX")
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  rm -rf "$T"
}
trap cleanup EXIT
failures=0
fail() {
  echo "replay_shard_job_test: $*"
  failures=$((failures + 1))
}

# 5 workers of 2 users of 4 requests, each worker 3 ms after the last; every third under /old/.
mkdir "$T/pkg"
n=0 OLD=0
for w in 0 1 2 3 4; do
  off=0
  echo '#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, ...' >"$T/pkg/vt_index_$w"
  for u in 1 2; do
    line=$(printf '%09d,vt_req_%d' $((w * 10 + u)) $w)
    for i in 0 1 2 3; do
      [ $((n++ % 3)) = 0 ] && dir=old && OLD=$((OLD + 1)) || dir=keep
      entry=$'POST /'"$dir/svc$i"$' HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3\r\n\r\nabc\n'
      printf '%s' "$entry" >>"$T/pkg/vt_req_$w"
      line+=",$((i * 20 + u - 1 + w * 3)),$i,$off,${#entry}"
      off=$((off + ${#entry}))
    done
    echo "$line" >>"$T/pkg/vt_index_$w"
  done
done

"$SINK" --background --port-file "$T/port" --pid-file "$T/pid" --seconds 60 >/dev/null ||
  { echo "replay_shard_job_test: vt_sink did not start"; exit 1; }
PIDS+=("$(cat "$T/pid")")
TARGET=http://127.0.0.1:$(cat "$T/port")
RULES=(--rewrite-path /old/=/new/ --rewrite-path /keep/x=/never/)

timeout 30 "$REPLAY" "$T/pkg" --target "$TARGET" --quiet "${RULES[@]}" --json "$T/whole.json" \
  --results "$T/whole.csv" >"$T/whole.out" 2>&1 || fail "the whole run: status $?: $(cat "$T/whole.out")"
# No page names, no capture clock: neither column, nor blanks for one.
! grep -qE '  (service|captured)| $' "$T/whole.out" || fail "columns of nothing: $(cat "$T/whole.out")"

# One command line for every pod, as the Job's manifest gives it.
N=3
START=$(($(date +%s) + 2)).250
CMD="exec timeout 30 \"$REPLAY\" \"$T/pkg\" --target $TARGET --quiet --shard auto/$N --start-at $START"
CMD+=" ${RULES[*]} --max-latency p50=60s --json \"$T/shard-\$JOB_COMPLETION_INDEX.json\""
CMD+=" --results \"$T/shard-\$JOB_COMPLETION_INDEX.csv\" >\"$T/shard-\$JOB_COMPLETION_INDEX.out\" 2>&1"
SHARDS=()
for i in $(seq 0 $((N - 1))); do
  JOB_COMPLETION_INDEX=$i sh -c "$CMD" &
  SHARDS+=($!)
done
for i in "${!SHARDS[@]}"; do
  wait "${SHARDS[$i]}" || fail "shard $i: status $?: $(cat "$T/shard-$i.out")"
done
timeout 30 "$REPLAY" merge "$T"/shard-*.json --json "$T/merged.json" >"$T/merged.out" 2>&1 ||
  fail "merge: status $?: $(cat "$T/merged.out")"

# The counts of a report, latencies and times aside, one per line.
counts() {
  python3 -c 'import json, sys
r = json.load(sys.stdin)
flat = lambda d: ",".join("%s=%s" % kv for kv in sorted(d.items()) if not isinstance(kv[1], (dict, list)))
for k in "requests errors status failed_by_status success bytes rewrites path_rewrites".split():
    print(k, json.dumps(r[k], sort_keys=True, separators=(",", ":")))
for p in sorted(r["pages"]): print("page", p, flat(r["pages"][p]))
for w in r["workers"]: print("worker", flat(w))' <"$1"
}
counts "$T/whole.json" >"$T/whole.counts"
counts "$T/merged.json" >"$T/merged.counts"
grep -q '"planned":40' "$T/whole.counts" || fail "the whole run planned no 40 requests: $(cat "$T/whole.counts")"
grep -q "^worker completed=8,.*,worker=4$" "$T/merged.counts" || fail "no worker 4 merged: $(cat "$T/merged.counts")"
diff "$T/whole.counts" "$T/merged.counts" >"$T/diff" ||
  fail "the merged shards count otherwise than the whole run: $(cat "$T/diff")"
for out in whole merged; do
  grep -qx "  rewrites     path /old/ -> /new/: rewritten in $OLD requests" "$T/$out.out" &&
    grep -qx "               path /keep/x -> /never/: rewritten in 0 requests" "$T/$out.out" ||
    fail "$out: the path rules as counted: $(grep -A1 rewrites "$T/$out.out")"
done
for i in $(seq 0 $((N - 1))); do
  grep -q "\"shard\": \"$i/$N\"" "$T/shard-$i.json" && grep -q "; shard $i/$N\$" "$T/shard-$i.out" &&
    grep -q "\"start_unix_us\": ${START/./}000," "$T/shard-$i.json" || fail "shard-$i is not of shard $i/$N from $START"
done
# Every request planned at the whole run's time of the schedule.
planned() { tail -qn +2 "$@" | cut -d, -f1 | sort; }
[ "$(planned "$T"/shard-*.csv)" = "$(planned "$T/whole.csv")" ] || fail "the shards plan otherwise than the whole run"
head -1 "$T/merged.out" | grep -qF "vt_replay: report: $T/pkg against $TARGET, " &&
  grep -q '"merged_from": \[' "$T/merged.json" || fail "the merged report names not its parts: $(head -1 "$T/merged.out")"

# The merge fails on an output it cannot make and a report given twice; a threshold crossed: 3.
for option in --json --html; do
  "$REPLAY" merge "$T/shard-0.json" $option "$T/no/m" >/dev/null 2>"$T/err"
  [ $? = 1 ] && [ "$(cat "$T/err")" = "vt_replay merge: $option: cannot create $T/no/m: No such file or directory" ] ||
    fail "merge $option into no directory: $(cat "$T/err")"
done
"$REPLAY" merge "$T/shard-0.json" "$T/shard-1.json" "$T/./shard-0.json" >/dev/null 2>"$T/err"
[ $? = 1 ] && [ "$(cat "$T/err")" = "vt_replay merge: $T/./shard-0.json is $T/shard-0.json given again: each report is added up once" ] ||
  fail "a report given twice: $(cat "$T/err")"
sed 's/"max-latency p50=60s", "kind": "latency", "percentile": 50, "limit": 60000,/"max-latency p50=1us", "kind": "latency", "percentile": 50, "limit": 0.001,/' \
  "$T/shard-1.json" >"$T/strict.json"
"$REPLAY" merge "$T/shard-0.json" "$T/strict.json" >"$T/strict.out" 2>&1
[ $? = 3 ] && grep -q "verdict      FAILED: 1 of 3 thresholds crossed" "$T/strict.out" || fail "a threshold crossed: $(cat "$T/strict.out")"

# Refusals: status 2, one line. Each row: JOB_COMPLETION_INDEX ("-": unset), option, value, message.
while IFS='|' read -r index option value message; do
  [ -z "$option" ] && continue
  value=$(printf '%b' "$value")
  if [ "$index" = - ]; then
    env -u JOB_COMPLETION_INDEX "$REPLAY" "$T/pkg" --target "$TARGET" "$option" "$value" >/dev/null 2>"$T/err"
  else
    JOB_COMPLETION_INDEX=$index "$REPLAY" "$T/pkg" --target "$TARGET" "$option" "$value" >/dev/null 2>"$T/err"
  fi
  status=$?
  [ $status = 2 ] && [ "$(head -1 "$T/err")" = "vt_replay: $message" ] ||
    fail "$option '$value' (JOB_COMPLETION_INDEX $index): status $status: $(head -1 "$T/err"), not: $message"
done <<'TABLE'
-|--rewrite-path|=/new/|--rewrite-path =/new/: FROM is empty: give the prefix to replace
-|--rewrite-path|/old/|--rewrite-path /old/: expected FROM=TO, such as /old/=/new/
-|--rewrite-path|old/=/new/|--rewrite-path old/=/new/: FROM must begin with '/'
-|--rewrite-path|/old/=new/|--rewrite-path /old/=new/: TO must begin with '/'
-|--rewrite-path|/o\tld/=/new/|--rewrite-path /o\tld/=/new/: FROM holds a blank or control byte (\t)
-|--rewrite-path|/old/=/n ew/|--rewrite-path /old/=/n ew/: TO holds a blank or control byte ( )
-|--rewrite-path|/old/=/new\x7f|--rewrite-path /old/=/new\x7f: TO holds a blank or control byte (\x7f)
-|--shard|auto/4|--shard: JOB_COMPLETION_INDEX is not set: --shard auto/4 takes the shard's index (0 to 3) from it
|--shard|auto/4|--shard: JOB_COMPLETION_INDEX is empty: --shard auto/4 takes the shard's index (0 to 3) from it
-1|--shard|auto/4|--shard: JOB_COMPLETION_INDEX='-1' is not a decimal index (--shard auto/4)
4|--shard|auto/4|--shard: JOB_COMPLETION_INDEX='4' is out of range: --shard auto/4 takes 0 to 3
1|--shard|auto/0|--shard auto/0: expected I/N, the shard I (from 0) of N, such as 0/4, or auto/N
TABLE

# The example Job runs as many pods as its command line has shards.
counts=$(sed -n 's/^ *\(completions\|parallelism\): *\([0-9]*\)$/\2/p; s/.*--shard auto\/\([0-9]*\).*/\1/p' \
  "$KUBE/job.yaml" | sort -u)
[ "$(wc -w <<<"$counts")" = 1 ] || fail "job.yaml: completions, parallelism and --shard auto/N differ: $counts"
grep -q 'completionMode: Indexed' "$KUBE/job.yaml" || fail "job.yaml is no indexed Job"

[ $failures -eq 0 ] && echo "replay_shard_job_test: $N shards merged count as the whole run"
exit $((failures > 0))
