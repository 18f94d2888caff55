#!/bin/bash
# Builds the installed programs (only those) and installs them with CMake's
# install rules into $DESTDIR$PREFIX: vtu_replay_gen, vt_loggen, vt_package,
# vt_package_check, vt_replay, vt_sink, their manual pages and bash
# completion; WITH_SUITE=1 adds the stand-ins of the suite commands.
# BUILD_DIR (default build/normal) is configured first when it has never
# been.
set -euo pipefail
cd "$(dirname "$0")/.."
PREFIX=${PREFIX:-/usr/local}
DESTDIR=${DESTDIR:-}
BUILD_DIR=${BUILD_DIR:-build/normal}
WITH_SUITE=${WITH_SUITE:-}
export DESTDIR

case $PREFIX in
  /*) ;;
  *) echo "install: PREFIX must be an absolute path, not '$PREFIX'" >&2; exit 2 ;;
esac

targets=(vtu_replay_gen vt_loggen vt_package_check vt_package vt_replay vt_sink)
suite_targets=(vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name)
with_suite=0
if [ -n "$WITH_SUITE" ] && [ "$WITH_SUITE" != 0 ]; then
  with_suite=1
  targets+=("${suite_targets[@]}")
fi

if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  scripts/setup.sh
  echo "install: configuring $BUILD_DIR"
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
echo "install: building ${targets[*]} in $BUILD_DIR"
cmake --build "$BUILD_DIR" -j "${JOBS:-2}" --target "${targets[@]}"
echo "install: installing into $DESTDIR$PREFIX"
cmake --install "$BUILD_DIR" --prefix "$PREFIX"
if [ $with_suite = 1 ]; then
  cmake --install "$BUILD_DIR" --prefix "$PREFIX" --component suite
fi
echo "install: done; 'make uninstall PREFIX=$PREFIX${DESTDIR:+ DESTDIR=$DESTDIR}' removes it again"
