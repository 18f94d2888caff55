# The -d 3 trace in SOAP mode.
. "$CASE/../../trace_tree.sh"
trace_run -d 3
