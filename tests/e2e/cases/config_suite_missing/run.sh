# Suite commands missing from PATH stop the run after the configuration, naming them.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay" "SCRIPT_TYPE|Legacy"
mkdir bin && ln -s "$SUITE_BIN/vti_get_page" bin/vti_get_page
VT_WDIR=$WORK/wdir PATH=$WORK/bin:/usr/bin:/bin "$TOOL" -i x.conf
echo "status $?"
ls replay
