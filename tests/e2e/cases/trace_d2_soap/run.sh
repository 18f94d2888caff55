# The -d 2 trace in SOAP mode, with -f removing an old scenario and script.
. "$CASE/../../trace_tree.sh"
mkdir -p out/wdir/scripts/p/q/script
echo old >out/wdir/scenarios/p/q/s.conf
trace_run -d 2 -f
