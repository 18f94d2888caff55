# -f refuses a replay directory in or over the input, VT_WDIR or the config; "link/" is replaced.
. "$CASE/../../lib/safety.sh"
mkdir top
cp -r "$EXAMPLES/logs" top/logs
mkdir -p top/wdir/scenarios/p/s top/wdir/scripts
export VT_WDIR=$WORK/top/wdir
conf() { write_conf "$1" "$2" "INPUT_DIR|$WORK/top/logs"; }
# guard LABEL REPLAY_DIR [CONF]: a run with -f into REPLAY_DIR, its configuration in CONF.
guard() { echo "== $1"; conf "${3:-x.conf}" "$2"; run_tool -f -i "${3:-x.conf}"; }
guard "holds the input directory" "$WORK/top"
guard "is VT_WDIR" "$WORK/top/wdir/"
ln -s top toplink
guard "holds VT_WDIR, given as a path with a symbolic link" "$WORK/toplink/wdir/.."
for replay in "$WORK/top/logs/20261201" "$WORK/toplink/logs/20261201/extracts/" \
  "$WORK/top/wdir/scenarios" "$WORK/top/wdir/scenarios/p"; do guard "inside: ${replay#$WORK/}" "$replay"; done
mkdir confdir
guard "holds the configuration file" "$WORK/confdir" confdir/f.conf
ln -s "$WORK/top/wdir" top/logs/wlink
guard "a symbolic link inside the input directory" "$WORK/top/logs/wlink"
ls top top/logs top/logs/20261201/extracts top/wdir top/wdir/scenarios/p confdir

echo "== a symbolic link to a directory"
mkdir kept
echo keep >kept/keep
ln -s kept link
conf d.conf "$WORK/link/"
run_tool -f -i d.conf >/dev/null && check_package "$WORK/link"
[ -L link ] || echo "link replaced by a directory"
ls kept
