# The whole -d 1 trace of the small tree in URL mode (-u), with the keywords
# that are traced: the lines of level 1 only, so that a line of level 2 shown
# one level early is seen.
TRACE_KEYWORDS=1
. "$CASE/../../trace_tree.sh"
trace_run -d 1 -u
