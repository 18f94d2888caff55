#!/bin/bash
# Runs the tool on the bundled sample log tree with the bundled configuration,
# in a fresh working directory under build/.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build build/normal -j 2 >/dev/null || exit 1

DEMO=$ROOT/build/demo/run-$(date +%Y%m%d-%H%M%S)-$$
mkdir -p "$DEMO/wdir/scenarios/demo/replay"
sed -e "s#@EXAMPLES@#$ROOT/examples#g" -e "s#@DEMO@#$DEMO#g" \
  examples/replay.conf.in >"$DEMO/replay.conf"
export VT_WDIR=$DEMO/wdir
export PATH=$ROOT/build/normal/suite_bin:$PATH
echo "demo: configuration $DEMO/replay.conf, VT_WDIR=$VT_WDIR"
"$ROOT/build/normal/tools/replay_gen/vtu_replay_gen" -i "$DEMO/replay.conf" -n 2
status=$?
echo "demo: vtu_replay_gen exited with status $status"
echo "demo: replay package in $DEMO/replay"
if [ -d "$DEMO/replay" ]; then ls -l "$DEMO/replay"; fi
if [ -d "$VT_WDIR" ]; then echo "demo: under VT_WDIR:" && (cd "$VT_WDIR" && find . -type f | sort); fi
# The package's figures, and the same as a page of charts beside it.
if [ "$status" = 0 ]; then
  "$ROOT/build/normal/tools/package/vt_package" profile "$DEMO/replay"
  "$ROOT/build/normal/tools/package/vt_package" plot "$DEMO/replay" -o "$DEMO/plot.html" >/dev/null &&
    echo "demo: plot of the package in $DEMO/plot.html (open it in a browser)"
fi
exit $status
