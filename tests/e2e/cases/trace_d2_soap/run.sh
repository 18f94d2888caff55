# The whole -d 2 trace of the small tree in SOAP mode, with the keywords that
# are traced: lines of levels 3 and 4 stay hidden, those of level 2 show.
TRACE_KEYWORDS=1
. "$CASE/../../trace_tree.sh"
trace_run -d 2
