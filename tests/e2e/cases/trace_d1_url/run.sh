# The -d 1 trace of the small tree in URL mode: level 1 lines only.
. "$CASE/../../trace_tree.sh"
trace_run -d 1 -u
