#!/bin/bash
# Plants the faults kept in mutants/ one at a time and tells which test caught
# each: a measure of how closely the tests watch the code.
#
#   scripts/mutate.sh [PATCH...]     (make mutate; default: every mutants/*.patch)
#
# Each patch is a unified diff against the tree, led by comment lines:
#   # Fault: what the fault does, in a reviewer's words
#   # Equivalent: why it cannot change behaviour (left out of the count)
# The faults are applied to a copy of the tree in build/mutate/src, which is
# built in build/mutate/build; the source tree itself is never touched. For
# each fault the unit and end-to-end tests run (not the docs tests, not the
# sanitizers, each test given at most 120 s: a fault may make one hang), and
# the first failing test is named, or SURVIVED. The last line
# is "N caught, M survived". Exits 1 when a fault does not apply.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-2}
WORK=$ROOT/build/mutate
SRC=$WORK/src
BUILD=$WORK/build

patches=("$@")
if [ ${#patches[@]} -eq 0 ]; then patches=(mutants/*.patch); fi

mkdir -p "$WORK"
rm -rf "$SRC"
mkdir -p "$SRC"
# The tree as git sees it, without build outputs.
git ls-files -z --cached --others --exclude-standard | grep -zv '^build/' |
  xargs -0 cp --parents -t "$SRC" 2>/dev/null
cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
echo "mutate: building the unchanged tree"
cmake --build "$BUILD" -j "$JOBS" >/dev/null || { echo "mutate: the unchanged tree does not build"; exit 1; }
if ! (cd "$BUILD" && ctest -j "$JOBS" -LE docs >/dev/null 2>&1); then
  echo "mutate: the unchanged tree fails its tests"
  exit 1
fi

caught=0 survived=0 equivalent=0 broken=0
for p in "${patches[@]}"; do
  name=$(basename "$p" .patch)
  if ! patch -d "$SRC" -p1 --dry-run -s <"$ROOT/$p" >/dev/null 2>&1 &&
    ! patch -d "$SRC" -p1 --dry-run -s <"$p" >/dev/null 2>&1; then
    echo "$name: DOES NOT APPLY"
    broken=$((broken + 1))
    continue
  fi
  file=$p
  [ -f "$ROOT/$p" ] && file=$ROOT/$p
  patch -d "$SRC" -p1 -s <"$file"
  if grep -q '^# Equivalent:' "$file"; then
    verdict="equivalent (not counted)"
    equivalent=$((equivalent + 1))
  elif ! cmake --build "$BUILD" -j "$JOBS" >/dev/null 2>&1; then
    verdict="caught by the build"
    caught=$((caught + 1))
  else
    failed=$(cd "$BUILD" && ctest -j "$JOBS" -LE docs --timeout 120 2>&1 |
      sed -nE 's/^[[:space:]]+[0-9]+ - ([^ ]+) \(.*\)$/\1/p' | head -1)
    if [ -n "$failed" ]; then
      verdict="caught by $failed"
      caught=$((caught + 1))
    else
      verdict="SURVIVED"
      survived=$((survived + 1))
    fi
  fi
  patch -d "$SRC" -p1 -R -s <"$file"
  echo "$name: $verdict"
done
cmake --build "$BUILD" -j "$JOBS" >/dev/null 2>&1
total=$((caught + survived))
if [ $total -gt 0 ]; then
  echo "mutate: $((caught * 100 / total))% caught, $equivalent equivalent left out"
fi
echo "$caught caught, $survived survived"
[ $broken -eq 0 ]
