# The whole -d 4 trace of a small tree: two services in URL mode (-u), one
# loader thread, one worker, a progress mark per request, with the keywords
# that are traced as they are read (the level-4 lines among them); with -f
# over a replay directory left by an earlier run, whose removal is traced.
TRACE_KEYWORDS=1
. "$CASE/../../trace_tree.sh"
mkdir -p out/replay && echo old >out/replay/vt_index_0
trace_run -d 4 -u -f
