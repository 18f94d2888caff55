# The whole -d 3 trace of the small tree in SOAP mode, with the keywords that
# are traced: lines of level 4 stay hidden, those of level 3 show.
TRACE_KEYWORDS=1
. "$CASE/../../trace_tree.sh"
trace_run -d 3
