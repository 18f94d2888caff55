# The whole -d 4 trace of a small tree: two services in URL mode (-u), one
# loader thread, one worker, a progress mark per request.
. "$CASE/../../trace_tree.sh"
trace_run -d 4 -u
