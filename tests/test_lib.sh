# Sourced by the docs and programs tests with their name: a fresh $T removed at exit, fail, finish.
NAME=$1
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_$NAME.XXXXXX")
trap 'rm -rf "$T"' EXIT
failures=0
fail() { echo "$NAME: $*"; failures=$((failures + 1)); }
finish() { [ $failures -eq 0 ] && echo "$NAME: $*"; exit $((failures > 0)); }
