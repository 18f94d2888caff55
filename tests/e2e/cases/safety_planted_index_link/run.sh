# The replay directory is world-writable: a symbolic link named vt_index_0
# that another user plants there while the run loads its input is refused,
# and the file it points to is left as it was.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
echo keep >target
# The CPU count is read through "wc -l" before the configuration and again
# when Step 2 starts: the second time the replay directory exists.
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
