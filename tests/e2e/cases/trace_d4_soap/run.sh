# The -d 4 trace in SOAP mode: the action's service name lines among them.
. "$CASE/../../trace_tree.sh"
trace_run -d 4
