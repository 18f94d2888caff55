#!/bin/bash
# Line and branch coverage of the shipped code by the test run (make
# coverage; scripts/setup.sh --coverage installs gcovr first).
#
# Builds the tree in build/coverage (-DVT_COVERAGE=ON: --coverage at -O0,
# and vt_exit writes the counters before it ends a process), runs every test
# there (all but the `tools` label, which tests the scripts), and reports with
# gcovr over the shipped files only, as scripts/mutate_random.py --list-files
# names them (no unit tests, test-support headers, fuzz cases or benches):
#   build/coverage/summary.txt     the table below: lines and branches by file
#   build/coverage/html/index.html the annotated sources
# Branches that only throw exceptions, and branches the compiler made but
# that no source line can take, are left out. The tests' status does not stop
# the report; the script exits 1 when a test failed.
set -uo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
BUILD=build/coverage

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_COVERAGE=ON \
  "${launcher[@]}" >/dev/null || exit 1
echo "coverage: building $BUILD"
cmake --build "$BUILD" -j "$JOBS" >/dev/null || { echo "coverage: the build failed"; exit 1; }

find "$BUILD" -name '*.gcda' -delete
rm -f "$BUILD"/CMakeFiles/*/CompilerIdCXX/*.gcno  # CMake's compiler check, never run
echo "coverage: running the tests"
tests_ok=1
(cd "$BUILD" && ctest -j "$JOBS" -LE tools 2>&1 | grep -E "tests passed|\(Failed|\(Timeout|\(SEGFAULT") ||
  tests_ok=0

filters=()
while IFS= read -r f; do
  filters+=(--filter "$(printf '%s' "$f" | sed 's/[.[\*^$+?(){}|]/\\&/g')\$")
done < <(scripts/mutate_random.py --list-files)

mkdir -p "$BUILD/html"
gcovr -r . --object-directory "$BUILD" "${filters[@]}" -j "$JOBS" \
  --exclude-throw-branches --exclude-unreachable-branches \
  --json-summary "$BUILD/summary.json" --html-details "$BUILD/html/index.html" >/dev/null ||
  { echo "coverage: gcovr failed"; exit 1; }

python3 - "$BUILD/summary.json" >"$BUILD/summary.txt" <<'EOF'
import json, sys
data = json.load(open(sys.argv[1]))

def pct(covered, total):
    return "%5.1f %%" % (100.0 * covered / total) if total else "    -  "

rows = sorted(data["files"], key=lambda f: f["filename"])
print("%-48s %14s %16s" % ("file", "lines", "branches"))
for f in rows:
    print("%-48s %s %5d  %s %5d" % (f["filename"], pct(f["line_covered"], f["line_total"]),
                                    f["line_total"], pct(f["branch_covered"], f["branch_total"]),
                                    f["branch_total"]))
print("%-48s %s %5d  %s %5d" % ("total", pct(data["line_covered"], data["line_total"]),
                                data["line_total"], pct(data["branch_covered"],
                                                        data["branch_total"]),
                                data["branch_total"]))
weak = [f for f in rows if f["branch_total"] and f["branch_covered"] < 0.6 * f["branch_total"]]
weak.sort(key=lambda f: f["branch_covered"] / f["branch_total"])
print("under 60 %% of branches: %d files" % len(weak))
for f in weak:
    print("  %-46s %s of %d branches" % (f["filename"], pct(f["branch_covered"], f["branch_total"]),
                                         f["branch_total"]))
EOF
cat "$BUILD/summary.txt"
echo "coverage: $BUILD/summary.txt, $BUILD/html/index.html"
[ $tests_ok -eq 1 ] || { echo "coverage: some tests failed; the figures miss what they did not run"; exit 1; }
