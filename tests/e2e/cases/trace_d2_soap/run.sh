# The whole -d 2 trace of a small tree: two services in SOAP mode, one loader
# thread, one worker, a progress mark per request, the single sort (-N);
# INPUT_DIR lists its day.
TRACE_DAYS=20261201
. "$CASE/../../trace_tree.sh"
trace_run -d 2 -N
