# While run A holds its replay directory, run B (with and without -f) is refused naming A;
# two -f runs at once leave a sound package.
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
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -f -i x.conf >c1.out 2>c1.err &
c1=$!
VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -f -i x.conf >c2.out 2>c2.err &
c2=$!
wait $c1
s1=$?
wait $c2
s2=$?
for s in $s1 $s2; do
  case $s in 0 | 255) ;; *) echo "unexpected status $s" ;; esac
done
[ $s1 = 0 ] || [ $s2 = 0 ] && echo "at least one run completed"
# A refused run names the other and removed nothing of it ("already exists" ends with an empty line).
cat c1.err c2.err | grep -v "is in use by another run" | grep -v "already exist" | grep -v "^$" || true
check_package "$WORK/replay"
