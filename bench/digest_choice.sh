#!/bin/bash
# The measurement behind the package files' digest: each candidate's speed on
# bytes in the processor's caches, and the ways a writer thread could copy a
# large body while hashing it (bench/digest_choice.cc), with the copy in
# memory (/dev/shm) and on the disk (build/).
#
#   bench/digest_choice.sh [MB]     (default 1000: the size of the copied file)
set -euo pipefail
cd "$(dirname "$0")/.."
MB=${1:-1000}
scripts/setup.sh
OUT=$(mktemp -d build/digest_choice.XXXXXX)
SHM=$(mktemp -d /dev/shm/digest_choice.XXXXXX)
trap 'rm -rf "$OUT" "$SHM"' EXIT
g++ -O2 -std=c++20 -o "$OUT/digest_choice" bench/digest_choice.cc -lcrypto -lxxhash
head -c "${MB}000000" /dev/urandom >"$OUT/source"
cat "$OUT/source" >/dev/null
"$OUT/digest_choice" "$OUT/source" "$SHM"
echo
"$OUT/digest_choice" "$OUT/source" "$OUT" | sed -n '/^copy/,$p'
