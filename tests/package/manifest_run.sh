#!/bin/bash
# The manifest of a real run on the bundled sample tree: it lists every file
# with the size and digest that xxh128sum finds; check agrees with it and
# names the file when one byte changes, when a worker's files come from
# another run, and when a worker is added; without the manifest the package
# checks as before; profile and plot show the service names and the
# capture's clock times.
#
#   manifest_run.sh VT_PACKAGE VTU_REPLAY_GEN SUITE_BIN EXAMPLES
set -u
P=$1
TOOL=$2
SUITE_BIN=$3
EXAMPLES=$4
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_manifest_run.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# make RUN_NAME [CONFIG LINES...]: a package of the sample tree in $WORK/RUN_NAME.
make_package() {
  local name=$1
  shift
  mkdir -p "$WORK/$name/wdir/scenarios/demo/replay"
  sed -e "s#@EXAMPLES@#$EXAMPLES#g" -e "s#@DEMO@#$WORK/$name#g" "$EXAMPLES/replay.conf.in" \
    >"$WORK/$name/replay.conf"
  printf '%s\n' "$@" >>"$WORK/$name/replay.conf"
  (cd "$WORK/$name" && PATH=$SUITE_BIN:$PATH VT_WDIR=$WORK/$name/wdir "$TOOL" -i replay.conf -d 0) \
    >"$WORK/$name.log" 2>&1 || { cat "$WORK/$name.log"; fail "the run of $name failed"; exit 1; }
}
make_package a
make_package b "HOST_HEADER|other.example:80"
R=$WORK/a/replay
M=$R/vt_manifest.json

# What the manifest lists is what xxh128sum and stat find, and nothing is
# listed but the request and index files.
for f in vt_req_0 vt_req_1 vt_index_0 vt_index_1; do
  sum=$(xxh128sum "$R/$f" | cut -d' ' -f1)
  size=$(stat -c %s "$R/$f")
  grep -q "{\"name\": \"$f\", \"size\": $size, \"xxh3_128\": \"$sum\"}" "$M" ||
    fail "the manifest does not list $f with $size bytes and $sum"
done
[ "$(grep -o '"name": "vt_[a-z]*_[0-9]*"' "$M" | wc -l)" = 4 ] || fail "the manifest lists other files"
grep -q '"capture_start": "2026-11-18T11:06:40.123Z"' "$M" || fail "capture_start"
grep -q "\"config\": \"$WORK/a/replay.conf\"" "$M" || fail "config path"

# expect_check STATUS PATTERN...: vt_package check of $R, each pattern a line.
expect_check() {
  local status=$1
  shift
  "$P" check "$R" >"$WORK/out" 2>&1
  local got=$?
  [ "$got" = "$status" ] || fail "check ended with status $got, not $status: $(cat "$WORK/out")"
  for pattern in "$@"; do
    grep -q -- "$pattern" "$WORK/out" || fail "check did not say '$pattern': $(cat "$WORK/out")"
  done
}
expect_check 0 "^check: vt_manifest.json: 2 workers' request and index files match" \
  "^check: $R: 2 workers, 14 users, 23 requests, 0 problems"

cp -a "$R" "$WORK/saved"
restore() { rm -rf "$R" && cp -a "$WORK/saved" "$R"; }

# One byte of a request file, near the end of its last body: the entries
# still tile the file, so only the manifest sees it.
printf 'X' | dd of="$R/vt_req_1" bs=1 seek=$(($(stat -c %s "$R/vt_req_1") - 10)) conv=notrunc status=none
expect_check 1 "^check: vt_req_1: digest differs from the manifest's (the file changed)\$" \
  "23 requests, 1 problems\$"
restore

# Worker 0's files from the other run: sound on their own, not this run's.
cp "$WORK/b/replay/vt_req_0" "$WORK/b/replay/vt_index_0" "$R/"
expect_check 1 "^check: vt_req_0: " "^check: vt_index_0: "
restore

# A worker added.
cp "$R/vt_req_1" "$R/vt_req_2"
cp "$R/vt_index_1" "$R/vt_index_2"
sed -i 's/vt_req_1/vt_req_2/' "$R/vt_index_2"
expect_check 1 "^check: vt_req_2: a worker the manifest does not list (it lists 2 workers)" \
  "^check: vt_index_2: a worker the manifest does not list"
restore

# Without the manifest: the same output as before manifests.
rm "$M"
expect_check 0 "^check: $R: 2 workers, 14 users, 23 requests, 0 problems"
[ "$(wc -l <"$WORK/out")" = 1 ] || fail "check without a manifest printed more than its count line"
"$P" profile "$R" | grep -q 'captured\|IService_GetData' && fail "profile shows names without a manifest"
restore

# Names and clock times in profile, its JSON and the plot.
"$P" profile "$R" >"$WORK/profile" || fail "profile failed"
for pattern in '^  captured  *2026-11-18 11:06:40.123 UTC to 2026-11-19 11:40:30.000 UTC$' \
  'the peak at 0:00:00.000, 2026-11-18 11:06:40.123 UTC)' \
  '^    page   requests          bytes   share  service$' \
  '^       0         13          4,286   56.5%  IService_GetData$' \
  '^       2          1            307    4.3%  IService_GetData_MissingIndex$'; do
  grep -q -- "$pattern" "$WORK/profile" || fail "profile lacks '$pattern'"
done
"$P" profile "$R" --json | grep -q '"capture_start_ms":1795000000123,"capture_start":"2026-11-18T11:06:40.123Z"' ||
  fail "profile --json lacks the capture start"
"$P" profile "$R" --json | grep -q '{"page":1,"name":"IOrders_PutOrder","requests":9' ||
  fail "profile --json lacks the page names"
"$P" plot "$R" -o - >"$WORK/plot.html" || fail "plot failed"
for pattern in '2026-11-18 11:06:40.123 UTC to 2026-11-19 11:40:30.000 UTC' \
  '0:00:00 is 2026-11-18 11:06:40.123 UTC' '>page 1 IOrders_PutOrder<'; do
  grep -q -- "$pattern" "$WORK/plot.html" || fail "the plot lacks '$pattern'"
done

# A manifest that cannot be read: check names it, profile goes on without it.
echo '{"format": 1' >"$M"
expect_check 1 "^check: $R/vt_manifest.json: line 2 column 1: expected , or } in an object"
"$P" profile "$R" >"$WORK/profile" 2>"$WORK/err" || fail "profile refused a package with a broken manifest"
grep -q "vt_manifest.json: line 2 column 1: .*; service names and clock times left out" "$WORK/err" ||
  fail "profile did not tell why the manifest was left out: $(cat "$WORK/err")"

[ $failed = 0 ] && echo "manifest_run: all cases pass"
exit $failed
