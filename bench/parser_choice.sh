#!/bin/bash
# The measurement behind vt_replay's choice of HTTP response parser: time per
# parsed response for each candidate (bench/parser_choice.cc) and the compile
# time each adds to a translation unit that includes it.
set -euo pipefail
cd "$(dirname "$0")/.."
for pkg in libboost-dev libhttp-parser-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || { apt-get update -qq && apt-get install -y -qq "$pkg" >/dev/null; }
done
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
g++ -O2 -std=c++20 -o "$OUT/parser_choice" bench/parser_choice.cc -lhttp_parser
"$OUT/parser_choice"
compile_time() {  # compile_time HEADER
  printf '#include <%s>\nint main() { return 0; }\n' "$1" >"$OUT/tu.cc"
  local start=$EPOCHREALTIME
  g++ -O2 -std=c++20 -c -o "$OUT/tu.o" "$OUT/tu.cc"
  awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.2f", e - s }'
}
echo "compile time of a file including it: http_parser.h $(compile_time http_parser.h) s," \
  "boost/beast/http.hpp $(compile_time boost/beast/http.hpp) s"
