# Under -u a comma or a control byte in a URL's path becomes "_" in the name; paths show escaped.
. "$CASE/../../lib/safety.sh"
mkdir -p logs/20261201/extracts wdir/scenarios/p/s
for url in /c/x,y '/c/p\033[2Jq' /c/x,y /c/x_y; do
  printf 'RequestTimeEx=1795000000.0\nURL=%b\nxml1=00000000x<XACustId>7</XACustId>&xmlEnd=00\n*******\n' "$url"
done >logs/20261201/extracts/SOAP.log.1
write_conf x.conf "$WORK/replay"
run_tool -u -n 1 -i x.conf
grep -e '^url - ' -e '^[0-9] ' run.out
check_package "$WORK/replay"
cat wdir/scripts/p/s/script/script.pages | cut -f1
