# -f refuses a replay directory that is, holds or lies in the input base or VT_WDIR, or holds
# the configuration; a link given as "link/" is replaced, its target not emptied.
. "$CASE/../../lib/safety.sh"
mkdir top
cp -r "$EXAMPLES/logs" top/logs
mkdir -p top/wdir/scenarios/p/s top/wdir/scripts
export VT_WDIR=$WORK/top/wdir
conf() { write_conf "$1" "$2" "INPUT_DIR|$WORK/top/logs"; }
echo "== holds the input directory"
conf a.conf "$WORK/top"
run_tool -f -i a.conf
echo "== is VT_WDIR"
conf b.conf "$WORK/top/wdir/"
run_tool -f -i b.conf
echo "== holds VT_WDIR, given as a path with a symbolic link"
ln -s top toplink
conf c.conf "$WORK/toplink/wdir/.."
run_tool -f -i c.conf
for replay in "$WORK/top/logs/20261201" "$WORK/toplink/logs/20261201/extracts/" \
  "$WORK/top/wdir/scenarios" "$WORK/top/wdir/scenarios/p"; do
  echo "== inside: ${replay#$WORK/}"
  conf e.conf "$replay"
  run_tool -f -i e.conf
done
echo "== holds the configuration file"
mkdir confdir
conf confdir/f.conf "$WORK/confdir"
run_tool -f -i confdir/f.conf
echo "== a symbolic link inside the input directory"
ln -s "$WORK/top/wdir" top/logs/wlink
conf g.conf "$WORK/top/logs/wlink"
run_tool -f -i g.conf
ls top top/logs top/logs/20261201/extracts top/wdir top/wdir/scenarios/p confdir

echo "== a symbolic link to a directory"
mkdir kept
echo keep >kept/keep
ln -s kept link
conf d.conf "$WORK/link/"
run_tool -f -i d.conf >/dev/null && check_package "$WORK/link"
[ -L link ] || echo "link replaced by a directory"
ls kept
