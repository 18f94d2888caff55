# The whole -d 2 trace of the small tree in SOAP mode, with the keywords that
# are traced: lines of levels 3 and 4 stay hidden, those of level 2 show.
# Under -f an old scenario and an old script are removed first, and the
# removals are traced too.
TRACE_KEYWORDS=1
. "$CASE/../../trace_tree.sh"
mkdir -p out/wdir/scripts/p/q/script
echo old >out/wdir/scenarios/p/q/s.conf
trace_run -d 2 -f
