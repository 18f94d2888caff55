#!/bin/bash
# sink_test.sh VT_SINK VT_REPLAY: vt_sink on 127.0.0.1 in the background, raw and replayed, its limits.
. "${0%/*}/../../tests/lib.sh"
SINK=$1 REPLAY=$2 T=$WORK
trap '' PIPE  # a sink that closes early fails a check, not the script
wait_gone() {  # up to 5 s for process $1 to end
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.05; done
  fail "process $1 did not end"
}
# Its input on a connection of its own to $PORT, the answers until the sink closes it (5 s).
converse() { timeout 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$PORT; cat >&3; cat <&3"; }
# The sink for $2 s under `ulimit $1 -n 5`, none of this script's descriptors above 2.
few_descriptors() (
  for fd in $(ls /proc/$BASHPID/fd); do [ "$fd" -gt 2 ] && eval "exec $fd>&-"; done
  ulimit "$1" -n 5 && exec "$SINK" --seconds "$2"
)

# Usage errors, each bound of an option (--help, --version: cli_conventions.sh).
for bad in "--status=" "--status 100" "--status 199" "--status 600" "--status 200,x" "--port 70000" "--seconds 0" "extra"; do
  # shellcheck disable=SC2086
  "$SINK" $bad >/dev/null 2>"$T/err"
  [ $? = 2 ] && grep -q '^vt_sink: ' "$T/err" || fail "'$bad' is no usage error: $(cat "$T/err")"
done

# In the background: files there on return, port answering, input /dev/null, nothing more open.
"$SINK" --background --port-file "$T/port" --pid-file="$T/pid" --status=200,503 >"$T/sink.out" </dev/zero ||
  { fail "--background failed"; exit 1; }
PORT=$(cat "$T/port") PID=$(cat "$T/pid")
SINK_PID=$PID
FDS=$(ls "/proc/$PID/fd" | wc -l)
[ "$(readlink "/proc/$PID/fd/0")" = /dev/null ] ||
  fail "the background sink reads $(readlink "/proc/$PID/fd/0"), not /dev/null"
for fd in "/proc/$PID/fd"/*; do  # (one this script holds itself was inherited, not opened)
  [ "${fd##*/}" -gt 2 ] && [ "$(readlink "$fd")" = /dev/null ] && [ "$(readlink "/proc/$$/fd/${fd##*/}")" != /dev/null ] &&
    fail "the background sink keeps /dev/null open as descriptor ${fd##*/}"
done
[ "$(cut -d' ' -f5 "/proc/$PID/stat")" != "$(cut -d' ' -f5 /proc/$$/stat)" ] ||
  fail "the background sink did not leave the caller's process group"
# It blocks SIGINT and SIGTERM (read through a descriptor) and no other signal.
BLOCKED=$(sed -n 's/^SigBlk:[[:space:]]*//p' "/proc/$PID/status") && [ "$BLOCKED" = 0000000000004002 ] ||
  fail "the background sink blocks signals $BLOCKED, not 4002"

# Pipelined: a POST with a body, a HEAD, a close; statuses in turn, the last alone closing.
{ printf 'POST /a HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhelloHEAD /b HTTP/1.1\r\nHost: x\r\n\r\n'
  printf 'GET /c HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n'; } | converse >"$T/answers"
[ "$(awk '/^HTTP\/1.1 /{s = s $2} /^Connection: close/{s = s "c"} END {print s}' "$T/answers")" = 200503200c ] ||
  fail "200, 503, 200 and a close expected: $(cat "$T/answers")"
# A kept connection takes a request after its answer has gone.
{ printf 'GET /d HTTP/1.1\r\nHost: x\r\n\r\n'; sleep 0.3; printf 'GET /e HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n'; } |
  converse >"$T/kept"
grep -c '^HTTP/1.1 ' "$T/kept" | grep -qx 2 || fail "a kept connection: $(cat "$T/kept")"
# HTTP/1.0 closes unless asked; garbage gets 400 and a close.
printf 'GET / HTTP/1.0\r\n\r\n' | converse >"$T/old" && grep -q '^HTTP/1.1 503 ' "$T/old" ||
  fail "HTTP/1.0, closed after its answer: $(cat "$T/old")"
printf 'NOT HTTP\r\n\r\n' | converse >"$T/garbage" && grep -q '^HTTP/1.1 400 ' "$T/garbage" ||
  fail "garbage, closed after its answer: $(cat "$T/garbage")"

# vt_replay against it: 10 requests of 2 users, statuses going on in turn.
mkdir -p "$T/pkg"
entry=$'POST /svc HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3\r\n\r\nabc\n'
for _ in $(seq 10); do printf '%s' "$entry"; done >"$T/pkg/vt_req_0"
{ echo '#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, ...'
  for u in 0 1; do
    printf '%09d,vt_req_0' $((u + 1))
    for i in 0 1 2 3 4; do printf ',%d,0,%d,%d' $((i * 10)) $(((u * 5 + i) * ${#entry})) ${#entry}; done
    echo
  done; } >"$T/pkg/vt_index_0"
"$REPLAY" "$T/pkg" --target "http://127.0.0.1:$PORT" --quiet --max-failed 0.4 >"$T/replay.out" 2>&1
[ $? = 3 ] || fail "vt_replay against the sink: not status 3: $(cat "$T/replay.out")"
grep -q 'status       200: 5, 503: 5' "$T/replay.out" || fail "replay report: $(grep status "$T/replay.out")"
# Every connection closed by its client is closed by the sink too.
for _ in $(seq 200); do [ "$(ls "/proc/$PID/fd" | wc -l)" = "$FDS" ] && break; sleep 0.05; done
[ "$(ls "/proc/$PID/fd" | wc -l)" = "$FDS" ] || fail "descriptors left open: $(ls -l "/proc/$PID/fd")"
# A port that is taken is refused, naming it.
timeout 10 "$SINK" --port "$PORT" --seconds 1 >/dev/null 2>"$T/taken"
[ $? = 1 ] && grep -qx "vt_sink: listening: cannot listen on 127.0.0.1:$PORT: Address already in use" "$T/taken" ||
  fail "a taken port: $(cat "$T/taken")"
kill "$PID"
wait_gone "$PID"
# Four connections above, and at least one of each of vt_replay's two users.
summary="answered 16 requests (200: 8, 503: 8) on \([0-9]*\) connections, [0-9]* bytes received, 1 refused"
conns=$(sed -n "s/^vt_sink: 127.0.0.1:$PORT $summary; stopped by signal.*/\1/p" "$T/sink.out")
[ "${conns:-0}" -ge 6 ] || fail "summary, at least 6 connections: $(cat "$T/sink.out")"

# Each status's reason phrase ("Status" without one), from a sink on the same port at once.
want=$(printf 'HTTP/1.1 %s\n' '200 OK' '204 No Content' '504 Gateway Timeout' '299 Status')
codes=$(cut -d' ' -f2 <<<"$want")
"$SINK" --background --port "$PORT" --pid-file "$T/pid2" --status "$(paste -sd, <<<"$codes")" \
  >"$T/again.out" 2>&1 || fail "port $PORT again: $(cat "$T/again.out")"
SINK_PID=$(cat "$T/pid2")
for c in $codes; do
  [ "$c" = 299 ] && close='Connection: close\r\n' || close=
  printf "GET /$c HTTP/1.1\r\nHost: x\r\n$close\r\n"
done | converse >"$T/reasons"
kill "$SINK_PID"
wait_gone "$SINK_PID"
[ "$(grep '^HTTP/1.1 ' "$T/reasons" | tr -d '\r')" = "$want" ] ||
  fail "reason phrases: $(grep '^HTTP' "$T/reasons")"
grep -q "^vt_sink: 127.0.0.1:$PORT answered 4 requests" "$T/again.out" || fail "again: $(cat "$T/again.out")"

# Too few descriptors: stopped by an error, named; a soft limit that low is raised.
few_descriptors -SH 5 >"$T/nofd.out" 2>"$T/nofd.err"
[ $? = 1 ] && grep -q 'answered 0 requests (none) on 0 connections.*stopped by an error after' "$T/nofd.out" &&
  grep -qx 'vt_sink: serving: epoll: Too many open files' "$T/nofd.err" ||
  fail "too few descriptors: $(cat "$T/nofd.out" "$T/nofd.err")"
few_descriptors -S 0.3 >"$T/soft.out" 2>&1
[ $? = 0 ] && grep -q 'stopped by --seconds' "$T/soft.out" || fail "a low soft limit: $(cat "$T/soft.out")"

# Its own time limit; a port file that exists already.
timeout 10 "$SINK" --seconds 0.3 --port-file "$T/port2" >"$T/limit.out"
[ $? = 0 ] && grep -q 'answered 0 requests (none) on 0 connections.*stopped by --seconds after 0\.[3-9] s$' "$T/limit.out" ||
  fail "--seconds: $(cat "$T/limit.out")"
"$SINK" --seconds 5 --port-file "$T/port2" >/dev/null 2>"$T/err"
[ $? = 1 ] && grep -q "^vt_sink: --port-file: cannot create $T/port2: File exists" "$T/err" || fail "existing port file: $(cat "$T/err")"

# A summary nobody reads ends with status 1 saying so, SIGPIPE ignored or not.
env --default-signal=PIPE "$SINK" --seconds 0.3 2>"$T/pipe.err" | true
status=${PIPESTATUS[0]}
[ "$status" = 1 ] && grep -qx 'vt_sink: summary: Broken pipe' "$T/pipe.err" ||
  fail "a summary nobody reads: status $status, $(cat "$T/pipe.err")"

verdict "vt_sink serves, counts and stops as expected"
