#!/bin/bash
# Every program of the project in hostile surroundings:
# - given a named pipe, a device or a directory where it reads (or replaces)
#   a file, it refuses it at once with a message naming it; a program still
#   running after 10 s fails its case;
# - started with descriptors 0 to 2 closed, it opens no file of its own on
#   them (its console lines would go into that file): traced with strace,
#   every file opened on 0, 1 or 2 must be /dev/null (the loader's and the
#   sanitizer's own files before main aside). Skipped where strace cannot
#   trace;
# - started with descriptor 0 closed where /dev/null cannot be opened (a
#   read-only file bound over it in a mount namespace of its own), it refuses
#   at once, saying why. Skipped where no mount namespace can be made.
#
#   surroundings.sh VTU_REPLAY_GEN VT_PACKAGE VT_PACKAGE_CHECK VT_REPLAY VT_LOGGEN SUITE_BIN VT_SINK
set -u
GEN=$1 PKG=$2 CHECK=$3 REPLAY=$4 LOGGEN=$5 SUITE=$6 SINK=$7
EXAMPLES=$(cd "$(dirname "$0")/../../examples" && pwd)
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_surroundings.XXXXXX")
# A generator run killed outright leaves its /tmp/filename_<pid> behind;
# those of this test's runs go with its directory.
cleanup() {
  find /tmp -maxdepth 1 -type f -empty -name 'filename_*' -newer "$T/started" 2>/dev/null |
    while read -r f; do
      pid=${f#/tmp/filename_}
      case $pid in '' | *[!0-9]*) continue ;; esac
      kill -0 "$pid" 2>/dev/null || rm -f "$f"
    done
  rm -rf "$T"
}
trap cleanup EXIT
touch "$T/started"
failed=0
export VT_WDIR=$T/wdir PATH=$SUITE:$PATH
mkdir -p "$VT_WDIR/scenarios/p/s" "$VT_WDIR/scripts"

# A sound package of one worker with one request, and copies with a named
# pipe in place of a file.
HEADER='#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, ...'
entry=$'POST /svc HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc\n'
mkpkg() {
  mkdir -p "$1"
  printf '%s' "$entry" >"$1/vt_req_0"
  printf '%s\n%s\n' "$HEADER" "000000001,vt_req_0,0,0,0,${#entry}" >"$1/vt_index_0"
}
mkpkg "$T/pkg"
for f in vt_index_0 vt_req_0 error.log.0; do
  mkpkg "$T/pipe_$f"
  rm -f "$T/pipe_$f/$f"
  mkfifo "$T/pipe_$f/$f"
done
mkfifo "$T/fifo"
mkdir "$T/dir"
cat >"$T/gen.conf" <<CONF
INPUT_DIR|$EXAMPLES/logs
REPLAY_DIR|$T/replay
SCRIPT_NAME|p/s/script
SCENARIO_NAME|p/s/scen.conf
NUM_VVM|2
CONF
sed "s#$T/replay#$T/replay_preview#" "$T/gen.conf" >"$T/preview.conf"
printf '1 POST /svc page\n' >"$T/gen_input"
mkdir -p "$T/tree/20261201/extracts"
mkfifo "$T/tree/20261201/extracts/SOAP.log.1"
mkdir -p "$T/tree_dev/20261201/extracts"
ln -s /dev/null "$T/tree_dev/20261201/extracts/SOAP.log.1"
mkdir -p "$VT_WDIR/scripts/p/s/piped"
echo C >"$VT_WDIR/scripts/p/s/piped/script.type"
mkfifo "$VT_WDIR/scripts/p/s/piped/script.pages"

# refuse STATUS PATTERN COMMAND...: the command ends with STATUS within 10 s
# and its standard output or error holds PATTERN (grep -E).
refuse() {
  local want=$1 pattern=$2
  shift 2
  timeout 10 "$@" </dev/null >"$T/out" 2>&1
  local got=$?
  if [ "$got" != "$want" ] || ! grep -qE -- "$pattern" "$T/out"; then
    echo "FAIL: ${*##*/} -> status $got (wanted $want$([ "$got" = 124 ] && echo '; it hung'))"
    echo "  wanted /$pattern/ in: $(head -c 400 "$T/out")"
    failed=1
  fi
}
np='a named pipe, not a regular file'
refuse 255 "open_file:Unable to open file $T/fifo: $np" "$GEN" -i "$T/fifo"
refuse 255 'Unable to open file /dev/zero: a device, not a regular file' "$GEN" -i /dev/zero
refuse 255 "Unable to open file $T/dir: a directory, not a regular file" "$GEN" -i "$T/dir"
refuse 1 "the run would stop: open_file:Unable to open file $T/fifo: $np" "$PKG" preview -i "$T/fifo"
refuse 1 'Unable to open file /dev/zero: a device' "$PKG" preview -i /dev/zero
refuse 1 "Unable to open file $T/dir: a directory" "$PKG" preview -i "$T/dir"
for cmd in check profile; do
  refuse 1 "vt_index_0: $np" "$PKG" $cmd "$T/pipe_vt_index_0"
  refuse 1 "vt_req_0: $np" "$PKG" $cmd "$T/pipe_vt_req_0"
done
refuse 1 "vt_index_0: $np" "$PKG" plot "$T/pipe_vt_index_0" -o "$T/a.html"
refuse 1 "vt_req_0: $np" "$PKG" plot "$T/pipe_vt_req_0" -o "$T/b.html"
refuse 1 "error.log.0: $np; its records are not counted" "$PKG" profile "$T/pipe_error.log.0"
refuse 1 "vt_index_0: $np" "$CHECK" "$T/pipe_vt_index_0"
refuse 1 "vt_req_0: $np" "$CHECK" "$T/pipe_vt_req_0"
refuse 1 "package: $T/pipe_vt_index_0/vt_index_0: $np" \
  "$REPLAY" "$T/pipe_vt_index_0" --target 127.0.0.1:1
refuse 1 "package: $T/pipe_vt_req_0/vt_req_0: $np" \
  "$REPLAY" "$T/pipe_vt_req_0" --target 127.0.0.1:1
refuse 1 "cannot create $T/tree/20261201/extracts/SOAP.log.1: $np" \
  "$LOGGEN" --out "$T/tree" --requests 10 --quiet
refuse 1 "SOAP.log.1: a device, not a regular file" \
  "$LOGGEN" --out "$T/tree_dev" --requests 10 --quiet
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
    echo "FAIL: ${*##*/} with descriptors 0-2 closed opened a file on one of them:"
    echo "${bad:-  (/dev/null never opened on them)}" | head -5
    failed=1
  fi
}
if strace -qq -o /dev/null true 2>/dev/null; then
  closed "$GEN" -i "$T/gen.conf"
  [ -s "$T/replay/vt_req_0" ] || { echo "FAIL: the traced run made no package"; failed=1; }
  closed "$PKG" check "$T/replay"
  closed "$PKG" profile "$T/replay"
  closed "$PKG" plot "$T/replay" -o "$T/plot.html"
  closed "$PKG" preview -i "$T/preview.conf"
  closed "$CHECK" "$T/replay"
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

# no_dev_null STATUS PATTERN COMMAND...: with descriptor 0 closed and /dev/null
# a read-only file (bound over it in a mount namespace of the command's own),
# the command refuses at once with STATUS and a message matching PATTERN.
no_dev_null() {
  local want=$1 pattern=$2
  shift 2
  timeout 10 unshare -rm bash -c 'mount --bind "$1" /dev/null && mount -o remount,bind,ro /dev/null &&
    shift && exec "$@" <&-' no_dev_null "$T/null_ro" "$@" >"$T/out" 2>&1
  local got=$?
  if [ "$got" != "$want" ] || ! grep -qE -- "$pattern" "$T/out"; then
    echo "FAIL: ${*##*/} without /dev/null -> status $got (wanted $want)"
    echo "  wanted /$pattern/ in: $(head -c 400 "$T/out")"
    failed=1
  fi
}
touch "$T/null_ro"
# A run that would succeed, were it not refused.
sed -e "s#$T/replay#$T/replay_nodn#" -e 's#/script$#/nodn#' -e 's#/scen.conf$#/nodn.conf#' \
  "$T/gen.conf" >"$T/nodn.conf"
if unshare -rm bash -c 'mount --bind "$1" /dev/null && mount -o remount,bind,ro /dev/null' x \
  "$T/null_ro" 2>/dev/null; then
  ro='cannot open /dev/null for a closed standard descriptor'
  no_dev_null 255 "^main:Unable to open /dev/null for a closed standard descriptor: Read-only" \
    "$GEN" -i "$T/nodn.conf"
  no_dev_null 1 "^vt_package: $ro: Read-only" "$PKG" check "$T/pkg"
  no_dev_null 1 "^vt_package_check: $ro: Read-only" "$CHECK" "$T/pkg"
  no_dev_null 1 "$ro" "$REPLAY" "$T/pkg" --target 127.0.0.1:1
  no_dev_null 1 "^vt_loggen: $ro: Read-only" "$LOGGEN" --out "$T/tree_none" --requests 10
  for prog in vtu_gen_cscript vtu_gen_script; do
    no_dev_null 1 "^$prog: $ro\$" "$SUITE/$prog" -s p/s/none -f "$T/gen_input"
  done
  no_dev_null 1 "^vti_get_page: $ro\$" "$SUITE/vti_get_page" p/s/c
  no_dev_null 1 "^vtu_change_page_name: $ro\$" "$SUITE/vtu_change_page_name" -s p/s/c -p a -n b
  [ -e "$T/tree_none" ] && { echo "FAIL: vt_loggen wrote without /dev/null"; failed=1; }
  # With /tmp read-only the generator cannot make the script generator's
  # input file there, and says why. (The bind takes the mounts below /tmp
  # along: a namespace of a user's own may not leave them out, and another
  # test may have one there.)
  timeout 10 unshare -rm bash -c 'mount --rbind /tmp /tmp && mount -o remount,bind,ro /tmp &&
    exec "$@"' ro_tmp "$GEN" -i "$T/nodn.conf" >"$T/out" 2>&1
  got=$?
  pattern="^create_file_for_vtu_gen_script:Error in creating file '/tmp/filename_[0-9]+' for the generation of script: Read-only file system\$"
  if [ $got != 255 ] || ! grep -qE "$pattern" "$T/out"; then
    echo "FAIL: the generator with /tmp read-only -> status $got: $(head -c 400 "$T/out")"
    failed=1
  fi
  # With nothing to read in /proc/meminfo and the process's control groups,
  # the memory available is unknown: the budget is 1 GiB, and -d 1 says why.
  sed -e "s#$T/replay#$T/replay_mem#" -e 's#/script$#/mem#' -e 's#/scen.conf$#/mem.conf#' \
    "$T/gen.conf" >"$T/mem.conf"
  : >"$T/empty"
  timeout 20 unshare -rm bash -c 'mount --bind "$1" /proc/meminfo && mount --bind "$1" /proc/self/cgroup &&
    shift && exec "$@"' no_meminfo "$T/empty" "$GEN" -d 1 -i "$T/mem.conf" >"$T/out" 2>&1
  got=$?
  if [ $got != 0 ] || ! grep -qx "memory_budget:Memory budget 1.0 GiB (the memory available is unknown)" "$T/out"; then
    echo "FAIL: the generator without /proc/meminfo -> status $got: $(grep -m1 memory_budget "$T/out")"
    failed=1
  fi
else
  echo "surroundings: no mount namespace here; the cases without /dev/null are skipped"
fi

[ $failed = 0 ] && echo "surroundings: every program refuses pipes and devices and keeps 0-2 apart"
exit $failed
