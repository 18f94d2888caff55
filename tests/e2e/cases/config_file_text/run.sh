# CR LF or a BOM refuses the file; control bytes show escaped; unknown keywords warn, naming one.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf plain.conf "$WORK/replay"
echo "== CR LF"
sed 's/$/\r/' plain.conf >crlf.conf
run_tool -i crlf.conf
echo "== byte-order mark"
{ printf '\357\273\277'; cat plain.conf; } >bom.conf
run_tool -i bom.conf
ls -b | grep replay || echo "no replay directory"
echo "== a carriage return inside a value"
{ cat plain.conf; printf 'NUM_VVM|2\r|\n'; } >cr.conf
run_tool -i cr.conf
echo "== a misspelt keyword and a line without |"
mkdir empty
write_conf typo.conf "$WORK/typo" "NUM_VMM|3" "SCRIPT_TYPE=C" "   " "INPUT_DIR|$WORK/empty" "FOO|1"
run_tool -i typo.conf
