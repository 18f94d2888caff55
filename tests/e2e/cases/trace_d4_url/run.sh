# The -d 4 trace in URL mode, a mark per request, -f removing an old replay directory.
. "$CASE/../../trace_tree.sh"
mkdir -p out/replay && echo old >out/replay/vt_index_0
trace_run -d 4 -u -f
