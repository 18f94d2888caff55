#!/bin/bash
# Rewrites the seed corpora fuzz/corpus/<target>/ from the sample logs and configuration, the
# end-to-end cases' configurations and hand-made records that reach every rejection code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/fuzz/corpus
logs=$root/examples/logs
rm -rf "$out"
mkdir -p "$out"/{record_parser_fuzz,field_scanners_fuzz,config_reader_fuzz,parallel_loader_fuzz}

# seed TARGET NAME [MODE EXTRA]: the two mode bytes, if given, and standard input become the seed.
seed() { { [ $# -lt 4 ] || printf "\\x$3\\x$4"; cat; } >"$out/$1/$2"; }

# Parser seeds (parser NAME MODE EXTRA): two mode bytes (fuzz_cases.h), then the file.
parser() { seed record_parser_fuzz "$@"; }
parser sample_names 01 00 <"$logs/20261201/extracts/SOAP.log.1"
parser sample_url_mode_services 20 00 <"$logs/20261201/extracts/SOAP.log.2"
parser sample_param_services 23 00 <"$logs/20261202/extracts/SOAP.log.1"
parser sample_period_header 1d 20 <"$logs/20261201/extracts/SOAP.log.1"

rec() {  # rec TIME ACTION URL BODY: one record, lines as given ("-" = none)
  [ "$1" = - ] || printf 'RequestTimeEx=%s\n' "$1"
  [ "$2" = - ] || printf 'HTTP_SOAPACTION=%s\n' "$2"
  [ "$3" = - ] || printf 'URL=%s\n' "$3"
  printf 'xml1=000000001%s&xmlEnd=00\n*******\n' "$4"
}
T=1795000003.250000
A='"urn:Store/IService/GetData"'
U=/svc/Service.svc
B='<Envelope>
<XACustId>42</XACustId>
</Envelope>'
{
  rec 1795000003 "$A" "$U" "$B"                     # 101
  rec 1600000000.5 "$A" "$U" "$B"                   # 102 with a period
  { printf 'HTTP_SOAPACTION="urn:a/b"\n'; rec $T "$A" "$U" "$B"; }  # 103
  rec $T "$A" "/svc?x=1" "$B"                       # 104
  rec - "$A" "$U" "$B"                              # 105
  rec $T "$A" - "$B"                                # 106
  rec $T '""' "$U" "$B"                             # 107
  printf 'RequestTimeEx=%s\nHTTP_SOAPACTION=%s\nURL=%s\nxml1=000000001<a/>\n*******\n' \
    $T "$A" $U                                      # 111
} | parser rejections 19 00
{
  printf 'RequestTimeEx=%s\nHTTP_SOAPACTION="%0*d"\nURL=%s\n' $T 2040 0 $U
  printf 'xml1=000000001%s&xmlEnd=00\n*******\n' "$B"                  # 108
  printf 'RequestTimeEx=%s\nHTTP_SOAPACTION=%s\nURL=/a\0b\n' $T "$A"
  printf 'xml1=000000001%s&xmlEnd=00\n*******\n' "$B"                  # 112
} | parser long_action_nul_url 01 00
rec $T "$A" "/$(printf 'p%.0s' $(seq 40))" "$B" | parser long_url_host 01 10
{
  printf 'RequestTimeEx=%s\nHTTP_WFSOAPACTION="urn:x/Svc/Op/"\n""\nURL=%s\n' $T $U
  printf 'xml1=000000001\n<ns:XACustId>-7</ns:XACustId>\nRequestTimeEx=1\n'
  printf '<creationTimestamp xmlns:a="u">2026-12-01T10:00:00Z</creationTimestamp>\n&xmlEnd=00\n*******\n'
  printf '\n\nRequestTimeEx=%s\r\nHTTP_SOAPACTION=GetData\r\nURL=/svc/Orders.svc\r\n' $T
  printf 'xml1=000000001<Id>99999999999999999999</Id>\r\n&xmlEnd=00\r\n*******\r\n'
  printf 'RequestTimeEx=%s\nURL=/a/b/\nxml1=000000001<CustNo></CustNo>&xmlEnd=00\n*******\n' $T
  printf 'RequestTimeEx=%s\nURL=/\nxml1=000000001*******\n' $T
  printf 'RequestTimeEx=%s\nHTTP_SOAPACTION=%s\nURL=%s\n' $T "$A" $U
  printf 'xml1=000000001<XACustId>1\n'
} | parser odd_records 23 00
rec $T "$A" "$U" "$B" | parser levels_on c3 01
printf 'header line only' | parser header_only 05 00
printf '' | parser empty 01 00

# Loader seeds: the mode byte, threads - 2 + 8 * (records per file - 1), the records.
loader() { seed parallel_loader_fuzz "$@"; }
all_logs() { cat "$logs"/*/extracts/SOAP.log.*; }
all_logs | loader sample_two_threads_one_record_each 01 00
all_logs | loader sample_nine_threads_two_records_each 01 0f
all_logs | loader sample_url_mode_services 20 0a
all_logs | loader sample_param_services_three_records 23 11
for f in "$out"/record_parser_fuzz/*; do
  name=$(basename "$f")
  case $name in empty | header_only) continue ;; esac
  # The parser seed's records and service modes, a record per file, five threads.
  mode=$(od -An -tx1 -N1 "$f" | tr -d ' ')
  tail -c +3 "$f" | loader "parser_$name" "$(printf '%02x' $((0x$mode & 0x23)))" 03
done

# field NAME SIZE BEFORE ELEMENT TEXT
field() { printf "\\x$2\\x$3%s\n%s" "$4" "$5" | seed field_scanners_fuzz "$1"; }
field uid ff 00 XACustId '<XACustId>12345</XACustId> tail'
field uid_prefixed 10 01 XACustId '<ns:XACustId> -42</ns:XACustId>'
field uid_empty ff 00 '' '<a><XACustId></XACustId></a>'
field uid_letters 05 00 CustNo '<CustNo>abc</CustNo>'
field uid_next_line ff 00 XACustId '<XACustId>12'
field timestamp ff 02 creationTimestamp \
  '<creationTimestamp xmlns:a="x" xmlns:b="y">2020-01-01T10:00:00.000Z</creationTimestamp>'
field timestamp_slash 08 ff creationTimestamp '<creationTimestamp>2020/01/01</creationTimestamp>'
field url_query ff 00 x 'http://127.0.0.1/svc/Service.svc?wsdl=1'
field url_short 03 00 x 'https://host:8080/a/b/c'
field url_no_path ff 00 x 'http://host/'
field url_bare 00 00 x '/a/b/'
field body_line ff 00 XACustId "$(sed -n 4p "$logs/20261201/extracts/SOAP.log.1")"

# Configuration seeds: the sample, the end-to-end cases' here-documents, every keyword.
sed -e "s|@EXAMPLES@|/tmp/ex|; s|@DEMO@|/tmp/demo|" "$root/examples/replay.conf.in" |
  seed config_reader_fuzz sample
for run in "$root"/tests/e2e/cases/*/run.sh; do
  name=$(basename "$(dirname "$run")")
  awk '/<<CONF/ {on = 1; next} /^CONF$/ {on = 0} on' "$run" | sed "s|\$WORK|/tmp/w|g" >"$out/tmp"
  if [ -s "$out/tmp" ]; then mv "$out/tmp" "$out/config_reader_fuzz/e2e_$name"; fi
done
rm -f "$out/tmp"
conf_named() { local name=$1; shift; printf '%s\n' "$@" | seed config_reader_fuzz "$name"; }
conf_named keywords 'INPUT_DIR|/logs|20240101-20240102|SOAP.log.1' 'HOST_HEADER|example:8080|x' \
  'MSG_COUNT_PER_FILE|7' 'REPLAY_PERIOD|01/31/2020 10:00:00|NA' 'SCRIPT_NAME|proj//sub/script/' \
  'SCENARIO_NAME|p/s/x.conf.old' 'NEW_USER_TIME|1:02:03.5' 'IGNORE_HEADER|1' 'HTTP_VERSION|1.1' \
  'REQ_TOP_LINE|top' 'HTTP_HEADER|A: 1' 'HTTP_HEADER|B: 2' 'SCENARIO_KEYWORD|K 1' 'NUM_PROCESSES|4' \
  'SCRIPT_TYPE|Legacy' 'REPLAY_DIR|/tmp/r' 'FOO|1' '  SCRIPT_TYPE|C' ' #x'
conf_named services 'SERVICE_NAME|S|POST|http://h/u' \
  'SERVICE_NAME|S|GET|http://h/u|CustNo|pre|H: 1|NA|H: 2' 'SERVICE_NAME|T|POST' \
  'SCRIPT_NAME|a/b/c' 'SCENARIO_NAME|a/b/c.conf' 'REPLAY_DIR|/x'
conf_named refused_period 'REPLAY_PERIOD|31/01/2020 10:00:00|13/40/2021 25:61:61' \
  'REPLAY_PERIOD|01/01/1960 00:00:00|NA' 'REPLAY_PERIOD|2147483647/1/1 0:0:0|NA'
conf_named refused_values 'NUM_VVM|300' 'MSG_COUNT_PER_FILE|-5' 'NEW_USER_TIME|-1' \
  'SCRIPT_NAME|/p/s/n' 'SCENARIO_NAME|p/s/n' 'SCRIPT_TYPE|Java' 'HTTP_VERSION|1234567890' \
  'SCRIPT_NAME' 'HOST_HEADER' 'MSG_COUNT_PER_FILE|' 'INPUT_DIR|'
printf '#debug\nSCRIPT_NAME|a/b/c\nSCENARIO_NAME|a/b/c.conf\nREPLAY_DIR|/r\nSERVICE_NAME|S|POST|/u|NA' |
  seed config_reader_fuzz debug_no_final_line_end
printf 'HTTP_HEADER|%0*d\nSCENARIO_KEYWORD|x\r\n' 3000 0 | seed config_reader_fuzz long_values
# A host name as long as host_hdr allows.
printf 'HOST_HEADER|%0*d\nHTTP_VERSION|1.1\n' 9993 0 | seed config_reader_fuzz host_at_limit
ls "$out"/* | wc -l
