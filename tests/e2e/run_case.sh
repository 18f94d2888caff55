#!/bin/bash
# run_case.sh CASE_DIR TOOL SUITE_BIN PACKAGE_CHECK LOGGEN: CASE_DIR/run.sh in a fresh $WORK, its
# output and $WORK/out normalised against CASE_DIR/expected (UPDATE_EXPECTED=1 rewrites); 77 skips.
set -u
CASE=$(cd "$1" && pwd) || { echo "run_case.sh: no case directory $1" >&2; exit 2; }
TOOL=$2
SUITE_BIN=${3:-}
PACKAGE_CHECK=${4:-}
LOGGEN=${5:-}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vt_e2e.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
EXAMPLES=$(cd "$(dirname "$0")/../../examples" && pwd)
export EXAMPLES CASE TOOL SUITE_BIN PACKAGE_CHECK LOGGEN WORK

# Paths, dates, short times, pids, the budget, the manifest's date; loader start lines (unordered).
normalise() {
  LC_ALL=C sed -E \
    -e "s#${WORK}#<WORK>#g" \
    -e "s#${TOOL}#<TOOL>#g" \
    -e 's#[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}#<DATE>#g' \
    -e 's#(^|[^0-9,])[0-9] minutes and [0-5]?[0-9] seconds#\1<N> minutes and <N> seconds#g' \
    -e 's#/tmp/filename_[0-9]+#/tmp/filename_<PID>#g' \
    -e 's#^(memory_budget:Memory budget ).*#\1<BUDGET>#' \
    -e 's#"made_at": "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z"#"made_at": "<DATE>"#' |
    LC_ALL=C sed -E '/^  Processing Thread\[[0-9]+\] Started$/{N;d}'
}

# A /tmp/filename_<pid> of the case left a second after its process ended: actual/left_behind.
find_left_inputs() {
  local f pid found=()
  for f in $(find /tmp -maxdepth 1 -name 'filename_*' -newer "$WORK/started" 2>/dev/null); do
    pid=${f#/tmp/filename_}
    [[ -z $pid || $pid == *[!0-9]* ]] || kill -0 "$pid" 2>/dev/null || found+=("$f")
  done
  [ ${#found[@]} -gt 0 ] || return 0
  sleep 1
  for f in "${found[@]}"; do
    if [ -e "$f" ] || [ -L "$f" ]; then rm -f "$f" && echo "/tmp/filename_<PID>"; fi
  done
}

mkdir -p "$WORK/actual/files"
touch "$WORK/started"
(cd "$WORK" && bash "$CASE/run.sh") >"$WORK/raw_stdout" 2>"$WORK/raw_stderr"
echo $? >"$WORK/actual/status"
left=$(find_left_inputs)
[ -z "$left" ] || echo "$left" >"$WORK/actual/left_behind"
[ -s "$WORK/skip" ] && { echo "e2e case $(basename "$CASE") skipped: $(cat "$WORK/skip")"; exit 77; }
# (A coverage build run as another user says it cannot write its counters.)
for out in stdout stderr; do
  grep -v '^profiling:.*\.gcda:Cannot open$' "$WORK/raw_$out" | normalise >"$WORK/actual/$out"
done
if [ -d "$WORK/out" ]; then
  (cd "$WORK/out" && find . -type f | sort) | while read -r f; do
    mkdir -p "$WORK/actual/files/$(dirname "$f")"
    normalise <"$WORK/out/$f" >"$WORK/actual/files/$f"
  done
fi

if [ "${UPDATE_EXPECTED:-0}" = 1 ]; then
  rm -rf "$CASE/expected"
  cp -r "$WORK/actual" "$CASE/expected"
  echo "updated $CASE/expected"
  exit 0
fi
cp -r "$CASE/expected" "$WORK/expected"
mkdir -p "$WORK/expected/files"  # git keeps no empty directory
diff -r "$WORK/expected" "$WORK/actual" && exit 0
echo "e2e case $(basename "$CASE") differs from its expectations (UPDATE_EXPECTED=1 rewrites them)"
exit 1
