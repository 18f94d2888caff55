# The whole -d 4 trace of the small tree in SOAP mode, with the keywords that
# are traced: the lines of the action's service name among them.
TRACE_KEYWORDS=1
. "$CASE/../../trace_tree.sh"
trace_run -d 4
