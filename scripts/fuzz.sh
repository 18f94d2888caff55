#!/bin/bash
# Builds the libFuzzer targets of fuzz/ (clang++, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs them one after another.
#
#   scripts/fuzz.sh           FUZZ_SECONDS (default 180) per target. Each
#                             target's corpus grows in build/fuzz/corpus/<target>,
#                             seeded from fuzz/corpus/<target>, and is kept for
#                             the next run.
#   scripts/fuzz.sh --smoke   FUZZ_SECONDS (default 20) per target over a
#                             temporary copy of the seeds (the check run).
#
# FUZZ_TARGETS limits the run to some targets; FUZZ_RUNS ends each target
# after that many executions if its time has not run out before. A crash,
# hang, leak or broken property stops that target, keeps its input under
# build/fuzz/artifacts/ and makes the script fail once every target has run.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
mode=long
if [ "${1:-}" = --smoke ]; then mode=smoke; fi
if [ $mode = smoke ]; then seconds=${FUZZ_SECONDS:-20}; else seconds=${FUZZ_SECONDS:-180}; fi
targets=${FUZZ_TARGETS:-"record_parser_fuzz field_scanners_fuzz config_reader_fuzz parallel_loader_fuzz"}

# Longest input each target is given: a dozen records (longer ones slow the
# parser target down without reaching new code), a line, a configuration
# with room for values beyond the 10000-byte limits.
max_len() {
  case $1 in
    record_parser_fuzz | parallel_loader_fuzz) echo 4096 ;;
    field_scanners_fuzz) echo 1024 ;;
    *) echo 12288 ;;
  esac
}

runtime=$(clang++ -print-file-name="libclang_rt.fuzzer-$(uname -m).a" 2>/dev/null || true)
if [ ! -f "$runtime" ]; then
  echo "fuzz: clang++ or its libFuzzer runtime is missing; run make setup (libclang-rt-14-dev)" >&2
  exit 1
fi

build=build/fuzz
cmake -S . -B $build -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVT_FUZZ=ON >/dev/null
cmake --build $build --target vt_fuzz -j "$JOBS"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p $build/artifacts $build/logs
failed=0
for target in $targets; do
  if [ $mode = smoke ]; then
    corpus=$tmp/$target
    cp -r fuzz/corpus/$target "$corpus"
  else
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    for seed in fuzz/corpus/$target/*; do
      [ -e "$corpus/${seed##*/}" ] || cp "$seed" "$corpus"/
    done
  fi
  echo "== $target: $seconds s, inputs up to $(max_len $target) bytes"
  log=$build/logs/$target.log
  status=0
  $build/fuzz/$target -max_total_time="$seconds" -runs="${FUZZ_RUNS:--1}" \
    -max_len="$(max_len $target)" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix=$build/artifacts/$target- "$corpus" >"$log" 2>&1 || status=$?
  # The last status line and the run count, then any report.
  grep -E '^#[0-9]+' "$log" | tail -1 || true
  grep -E '^stat::number_of_executed_units' "$log" || true
  if [ $status -ne 0 ]; then
    failed=$((failed + 1))
    echo "$target FAILED (status $status); report:"
    grep -E -A40 'ERROR|property broken|WARNING: ' "$log" | head -80 || tail -40 "$log"
    ls -1 $build/artifacts/$target-* 2>/dev/null || true
  fi
done

# A closing line that scripts/check.sh counts like the test runs.
count=$(echo $targets | wc -w)
echo "fuzz: $(((count - failed) * 100 / count))% tests passed, $failed tests failed out of $count"
[ $failed -eq 0 ]
