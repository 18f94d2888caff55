# A vt_index_0 link planted in the replay directory during the load is refused, its target kept.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
echo keep >target
# The second "wc -l" (as Step 2 starts) finds the replay directory.
mkdir fake
cat >fake/wc <<FAKE
#!/bin/bash
cat >/dev/null
[ -d "$WORK/replay" ] && ln -s "$WORK/target" "$WORK/replay/vt_index_0"
echo 2
FAKE
chmod +x fake/wc
FAKE_BIN=$WORK/fake run_tool -i x.conf
cat target
ls replay
