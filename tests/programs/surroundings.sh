#!/bin/bash
# surroundings.sh GEN PACKAGE CHECK REPLAY LOGGEN SUITE_BIN SINK: pipes refused, 0-2 closed, no /dev/null.
set -u
GEN=$1 PKG=$2 CHECK=$3 REPLAY=$4 LOGGEN=$5 SUITE=$6 SINK=$7
EXAMPLES=$(cd "$(dirname "$0")/../../examples" && pwd)
. "$(dirname "$0")/../test_lib.sh" surroundings
# A generator run killed outright leaves its /tmp/filename_<pid>: this test's go with it.
cleanup() {
  for f in $(find /tmp -maxdepth 1 -type f -empty -name 'filename_[0-9]*' -newer "$T/started" 2>/dev/null); do
    [[ ${f#/tmp/filename_} == *[!0-9]* ]] || kill -0 "${f#/tmp/filename_}" 2>/dev/null || rm -f "$f"
  done
  rm -rf "$T"
}
trap cleanup EXIT
touch "$T/started"
export VT_WDIR=$T/wdir PATH=$SUITE:$PATH
mkdir -p "$VT_WDIR/scenarios/p/s" "$VT_WDIR/scripts"

# A sound package of one request, and copies with a named pipe in place of a file.
HEADER='#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, ...'
entry=$'POST /svc HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc\n'
mkpkg() {
  mkdir -p "$1"
  printf '%s' "$entry" >"$1/vt_req_0"
  printf '%s\n%s\n' "$HEADER" "000000001,vt_req_0,0,0,0,${#entry}" >"$1/vt_index_0"
}
mkpkg "$T/pkg"
for f in vt_index_0 vt_req_0 error.log.0; do
  mkpkg "$T/pipe_$f" && rm -f "$T/pipe_$f/$f" && mkfifo "$T/pipe_$f/$f"
done
mkfifo "$T/fifo"
mkdir "$T/dir"
# Runs that would succeed, were they not refused or traced.
for name in gen preview nodn mem; do
  printf '%s\n' "INPUT_DIR|$EXAMPLES/logs" "REPLAY_DIR|$T/replay_$name" "SCRIPT_NAME|p/s/$name" \
    "SCENARIO_NAME|p/s/$name.conf" "NUM_VVM|2" >"$T/$name.conf"
done
printf '1 POST /svc page\n' >"$T/gen_input"
mkdir -p "$T/tree/20261201/extracts" "$T/tree_dev/20261201/extracts"
mkfifo "$T/tree/20261201/extracts/SOAP.log.1"
ln -s /dev/null "$T/tree_dev/20261201/extracts/SOAP.log.1"
mkdir -p "$VT_WDIR/scripts/p/s/piped"
echo C >"$VT_WDIR/scripts/p/s/piped/script.type"
mkfifo "$VT_WDIR/scripts/p/s/piped/script.pages"

# outcome STATUS PATTERN GOT WHAT: WHAT ended with STATUS, $T/out holds PATTERN; else says why.
outcome() {
  [ "$3" = "$1" ] && grep -qE -- "$2" "$T/out" && return
  fail "$(basename "${4%% *}") ${4#* } -> status $3 (wanted $1$([ "$3" = 124 ] && echo '; it hung'))"
  echo "  wanted /$2/ in: $(head -c 400 "$T/out")"
}
# refuse STATUS PATTERN COMMAND...: the command ends within 10 s, as outcome.
refuse() {
  timeout 10 "${@:3}" </dev/null >"$T/out" 2>&1
  outcome "$1" "$2" $? "${*:3}"
}
np='a named pipe, not a regular file'
for what in "$T/fifo:$np" "/dev/zero:a device, not a regular file" "$T/dir:a directory, not a regular file"; do
  refuse 255 "^open_file:Unable to open file ${what%%:*}: ${what#*:}" "$GEN" -i "${what%%:*}"
  refuse 1 "the run would stop: open_file:Unable to open file ${what%%:*}: ${what#*:}" "$PKG" preview -i "${what%%:*}"
done
for f in vt_index_0 vt_req_0; do
  for cmd in check profile; do refuse 1 "$f: $np" "$PKG" $cmd "$T/pipe_$f"; done
  refuse 1 "$f: $np" "$PKG" plot "$T/pipe_$f" -o "$T/$f.html"
  refuse 1 "$f: $np" "$CHECK" "$T/pipe_$f"
  refuse 1 "package: $T/pipe_$f/$f: $np" "$REPLAY" "$T/pipe_$f" --target 127.0.0.1:1
done
refuse 1 "error.log.0: $np; its records are not counted" "$PKG" profile "$T/pipe_error.log.0"
refuse 1 "cannot create $T/tree/20261201/extracts/SOAP.log.1: $np" "$LOGGEN" --out "$T/tree" --requests 9
refuse 1 "SOAP.log.1: a device, not a regular file" "$LOGGEN" --out "$T/tree_dev" --requests 9
refuse 1 "cannot read input file '$T/fifo': $np" "$SUITE/vtu_gen_cscript" -s p/s/a -f "$T/fifo"
refuse 1 "cannot read input file '/dev/zero': a device" "$SUITE/vtu_gen_script" -s p/s/b -f /dev/zero
refuse 1 "script.pages': $np" "$SUITE/vti_get_page" p/s/piped
refuse 1 "script.pages': $np" "$SUITE/vtu_change_page_name" -s p/s/piped -p a -n b

# closed COMMAND...: run with descriptors 0 to 2 closed under strace.
closed() {
  strace -f -qq -e trace=open,openat -o "$T/trace" \
    bash -c 'exec "$@" <&- >&- 2>&-' closed "$@"
  local bad
  bad=$(grep -E '= [012]$' "$T/trace" |
    grep -vE '"(/dev/null|[^"]*\.so[.0-9]*|/etc/ld\.so\.[a-z]+|/proc/[^"]*|/sys/[^"]*)"')
  if ! grep -q '"/dev/null".* = [012]$' "$T/trace" || [ -n "$bad" ]; then
    fail "${*##*/} with descriptors 0-2 closed opened a file on one of them:"
    echo "${bad:-  (/dev/null never opened on them)}" | head -5
  fi
}
if strace -qq -o /dev/null true 2>/dev/null; then
  closed "$GEN" -i "$T/gen.conf"
  [ -s "$T/replay_gen/vt_req_0" ] || fail "the traced run made no package"
  for c in check profile; do closed "$PKG" $c "$T/replay_gen"; done
  closed "$PKG" plot "$T/replay_gen" -o "$T/plot.html"
  closed "$PKG" preview -i "$T/preview.conf"
  closed "$CHECK" "$T/replay_gen"
  closed "$REPLAY" "$T/pkg" --target 127.0.0.1:1
  closed "$LOGGEN" --out "$T/tree_ok" --requests 10
  closed "$SINK" --seconds 0.2 --port-file "$T/sink.port"
  closed "$SUITE/vtu_gen_cscript" -s p/s/c -f "$T/gen_input"
  closed "$SUITE/vtu_gen_script" -s p/s/d -f "$T/gen_input" -r
  closed "$SUITE/vti_get_page" p/s/c
  closed "$SUITE/vtu_change_page_name" -s p/s/c -p page -n renamed
else
  echo "surroundings: strace cannot trace here; the cases with closed descriptors are skipped"
fi

# in_ns STATUS PATTERN SETUP COMMAND...: as refuse (20 s), in a mount namespace after SETUP ($0: $T).
in_ns() {
  timeout 20 unshare -rm bash -c "$3"' && exec "$@"' "$T" "${@:4}" >"$T/out" 2>&1
  outcome "$1" "$2" $? "${*:4}"
}
no_null='mount --bind "$0/null_ro" /dev/null && mount -o remount,bind,ro /dev/null && exec 0<&-'
: >"$T/null_ro"
: >"$T/empty"
if unshare -rm bash -c "$no_null" "$T" 2>/dev/null; then
  ro='cannot open /dev/null for a closed standard descriptor'
  in_ns 255 "^main:Unable to open /dev/null for a closed standard descriptor: Read-only" "$no_null" \
    "$GEN" -i "$T/nodn.conf"
  in_ns 1 "^vt_package: $ro: Read-only" "$no_null" "$PKG" check "$T/pkg"
  in_ns 1 "^vt_package_check: $ro: Read-only" "$no_null" "$CHECK" "$T/pkg"
  in_ns 1 "$ro" "$no_null" "$REPLAY" "$T/pkg" --target 127.0.0.1:1
  in_ns 1 "^vt_loggen: $ro: Read-only" "$no_null" "$LOGGEN" --out "$T/tree_none" --requests 10
  for prog in vtu_gen_cscript vtu_gen_script; do
    in_ns 1 "^$prog: $ro\$" "$no_null" "$SUITE/$prog" -s p/s/none -f "$T/gen_input"
  done
  in_ns 1 "^vti_get_page: $ro\$" "$no_null" "$SUITE/vti_get_page" p/s/c
  in_ns 1 "^vtu_change_page_name: $ro\$" "$no_null" "$SUITE/vtu_change_page_name" -s p/s/c -p a -n b
  [ -e "$T/tree_none" ] && fail "vt_loggen wrote without /dev/null"
  # /tmp read-only: no generator input file (rbind: a user's namespace keeps the mounts below).
  in_ns 255 "^create_file_for_vtu_gen_script:Error in creating file '/tmp/filename_[0-9]+' for the generation of script: Read-only file system\$" \
    'mount --rbind /tmp /tmp && mount -o remount,bind,ro /tmp' "$GEN" -i "$T/nodn.conf"
  # Empty /proc/meminfo and control groups: the budget is 1 GiB, and -d 1 says why.
  in_ns 0 '^memory_budget:Memory budget 1\.0 GiB \(the memory available is unknown\)$' \
    'mount --bind "$0/empty" /proc/meminfo && mount --bind "$0/empty" /proc/self/cgroup' \
    "$GEN" -d 1 -i "$T/mem.conf"
else
  echo "surroundings: no mount namespace here; the cases without /dev/null are skipped"
fi

finish "every program refuses pipes and devices and keeps 0-2 apart"
