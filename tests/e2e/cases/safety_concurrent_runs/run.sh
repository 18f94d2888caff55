# Run B (with and without -f) is refused naming run A that holds the directory; two -f runs: sound.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
mkdir fake
cat >fake/wc <<FAKE
#!/bin/bash
cat >/dev/null
if [ -z "\$INNER_RUN" ] && [ -d "$WORK/replay" ] && [ ! -e "$WORK/b_done" ]; then
  touch "$WORK/b_done"
  # The tool runs this through a shell: its parent's parent is run A.
  awk '{print \$4}' /proc/\$PPID/stat >"$WORK/a_pid"
  cd "$WORK"
  for opt in "" -f; do
    INNER_RUN=1 VT_WDIR=$WORK/wdir "$TOOL" \$opt -i x.conf >b.out 2>b.err
    echo "B \${opt:-without -f}: status \$?" >>b_report
    cat b.err >>b_report
  done
fi
echo 2
FAKE
chmod +x fake/wc
echo "== A holds the directory while B runs"
FAKE_BIN=$WORK/fake run_tool -i x.conf
sed "s/process $(cat a_pid))/process <A>)/" b_report
check_package "$WORK/replay"

echo "== two runs with -f at once"
pids=()
for c in 1 2; do VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -f -i x.conf >c$c.out 2>c$c.err & pids+=($!); done
statuses=; for pid in "${pids[@]}"; do wait "$pid"; statuses+="$? "; done
case $statuses in "0 0 " | "0 255 " | "255 0 ") echo "at least one run completed" ;; *) echo "statuses $statuses" ;; esac
# A refused run names the other and removed nothing of it ("already exists" ends with an empty line).
cat c1.err c2.err | grep -v "is in use by another run" | grep -v "already exist" | grep -v "^$" || true
check_package "$WORK/replay"
