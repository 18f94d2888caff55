# The whole -d 4 trace of a small tree: two services in URL mode (-u), one loader
# thread, one worker, a progress mark per request. Pointers and descriptor numbers are masked.
mkdir -p logs/20261201/extracts out/wdir/scenarios/p/q
cat >logs/20261201/extracts/SOAP.log.1 <<'LOG'
RequestTimeEx=1795000000.123456
HTTP_SOAPACTION="urn:Store/IService/GetData"
URL=/svc/Service.svc
xml1=000000001<Envelope><Body>
<XACustId>1001</XACustId>
</Body></Envelope>&xmlEnd=00
*******
RequestTimeEx=1795000002.500000
HTTP_SOAPACTION="urn:Store/IOrders/PutOrder"
URL=/svc/Orders.svc
xml1=000000002<Envelope><Body>
<XACustId>1002</XACustId>
</Body></Envelope>&xmlEnd=00
*******
RequestTimeEx=1795000003.0
URL=/svc/Orders.svc
RequestTimeEx=17950
xml1=000000003<Envelope><Body>
<XACustId>1003</XACustId>
</Body></Envelope>&xmlEnd=00
*******
RequestTimeEx=1795000004.000000
HTTP_SOAPACTION="urn:Store/IService/GetData"
URL=/svc/Service.svc
xml1=000000004<Envelope><Body>
<XACustId>1001</XACustId>
</Body></Envelope>&xmlEnd=00
*******
LOG
cat >replay.conf <<CONF
INPUT_DIR|$WORK/logs
REPLAY_DIR|$WORK/out/replay
SCRIPT_NAME|p/q/script
SCENARIO_NAME|p/q/s.conf
NUM_VVM|1
CONF
VT_WDIR=$WORK/out/wdir PATH=$SUITE_BIN:$PATH "$TOOL" -i replay.conf -n 1 -c 1 -d 4 -u |
  sed -E -e 's/0x[0-9a-f]+/<PTR>/g' -e 's/(fdin|fdout) (= )?[0-9]+/\1 \2<FD>/g'
exit ${PIPESTATUS[0]}
