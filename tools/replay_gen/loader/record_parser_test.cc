#include "tools/replay_gen/loader/record_parser.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/core/failing_alloc_test_support.h"
#include "tools/replay_gen/loader/field_extract.h"
#include "tools/replay_gen/loader/line_reader.h"
#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/loader/record_errors.h"
#include "tools/replay_gen/loader/record_spill.h"
#include "tools/replay_gen/loader/record_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

using Lines = std::vector<std::pair<std::string, int64_t>>;  // line, file offset after it

// Reads text copied (mode 0), in place (1), in place passing over lines before "*******" (2, cut
// from the text by their offsets), or in place and copied in turn (3).
Lines read_all(const std::string &text, int mode, size_t limit, uint64_t *skipped) {
  FILE *fp = tmpfile();
  fwrite(text.data(), 1, text.size(), fp);
  rewind(fp);
  auto reader = std::make_unique<LineReader>();
  line_reader_init(reader.get(), fp);
  std::vector<char> buf(limit);
  Lines lines;
  for (;;) {
    if (mode == 2) {
      int64_t at = reader->offset;
      int64_t end = at + static_cast<int64_t>(
                             skip_lines_without_prefix(reader.get(), "*******", 7, limit, skipped));
      for (int64_t next; at < end; at = next) {
        next = static_cast<int64_t>(text.find('\n', static_cast<size_t>(at))) + 1;
        lines.push_back(
            {text.substr(static_cast<size_t>(at), static_cast<size_t>(next - at)), next});
        EXPECT_NE(lines.back().first.rfind("*******", 0), 0u) << "passed over an end line";
      }
    }
    char *line = buf.data();
    bool copy = mode == 0 || (mode == 3 && lines.size() % 2 == 1);
    size_t len = copy ? read_line(reader.get(), buf.data(), limit)
                      : read_line_in_place(reader.get(), buf.data(), limit, &line);
    if (len == 0) break;
    EXPECT_LT(len, limit);
    if (len >= limit) break;
    EXPECT_EQ(line[len], '\0');
    lines.push_back({std::string(line, len), reader->offset});
    line[0] = '#';  // the caller may change its line in place
  }
  fclose(fp);
  return lines;
}

// Lines of every kind, across chunks, over the limit: pieces never over it, together the text.
TEST(LineReader, InPlaceAndPassedOverLinesAreTheCopiedLines) {
  const std::string kinds[] = {"",         std::string("a\0b", 3), "*******",           "******",
                               " *******", "*******tail",          std::string(90, 'y')};
  std::string text;
  for (int i = 0; i < 3000; i++)
    text +=
        (i % 8 == 7 ? std::string(static_cast<size_t>(i) * 37 % 5000, 'x') : kinds[i % 8]) + "\n";
  text = text.insert(700, std::string(200000, 'z')) + "no newline at the end";
  for (size_t limit : {size_t{10485760}, size_t{4096}, size_t{8}}) {
    uint64_t skipped = 0;
    Lines copied = read_all(text, 0, limit, &skipped);
    std::string joined;
    for (const auto &[line, offset] : copied) joined += line;
    EXPECT_TRUE(joined == text) << "limit " << limit;
    for (int mode : {1, 2, 3})
      EXPECT_EQ(read_all(text, mode, limit, &skipped), copied) << limit << " mode " << mode;
    EXPECT_GT(skipped, 1000u) << "limit " << limit;
  }
  // A long last line that the last, short chunk ends: its piece that
  // crosses into that chunk is cut at the limit too.
  text = std::string(kLineReaderChunk - 4, 'a') + "\nxyzabcdefghij";
  uint64_t skipped = 0;
  Lines copied = read_all(text, 0, 8, &skipped);
  ASSERT_GE(copied.size(), 2u);
  EXPECT_EQ(copied[copied.size() - 2].first, "xyzabcd");
  EXPECT_EQ(copied.back(), (std::pair<std::string, int64_t>{"efghij", text.size()}));
}

// The uid and where the line is cut.
TEST(ExtractUid, ValuesAndCut) {
  const struct {
    const char *line, *tag;
    int64_t uid;
    const char *after;  // the line after the call
  } cases[] = {
      {"<XACustId>12345</XACustId>x", nullptr, 12345, "<XACustId>12345"},
      {"<a:XACustId>12345</a:XACustId>", nullptr, 12345, "<a:XACustId>12345"},
      {"<XACustId></XACustId>", nullptr, kUidEmptyElement, "<XACustId>"},
      {"<XACustId>abc</XACustId>", nullptr, 0, "<XACustId>abc"},
      {"<XACustId>9223372036854775807</XACustId>", nullptr, INT64_MAX,
       "<XACustId>9223372036854775807"},
      {"<XACustId>9223372036854775808</XACustId>", nullptr, 0, "<XACustId>9223372036854775808"},
      {"<XACustId>12345\n", nullptr, kUidNotOnLine, "<XACustId>12345\n"},  // split element
      {"<XACustId", nullptr, kUidNotOnLine, "<XACustId"},
      {"<Other>5</Other>", nullptr, kUidNotOnLine, "<Other>5</Other>"},
      {"<CustNo>77</CustNo><XACustId>1</XACustId>", "CustNo", 77, "<CustNo>77"},
      {"<XACustId>3</XACustId>", "", 3, "<XACustId>3"},
      {"", nullptr, kUidNoText, ""},
  };
  for (const auto &c : cases) {
    std::string line = c.line;
    EXPECT_EQ(extract_uid(LogGates{}, line.data(), c.tag), c.uid) << c.line;
    EXPECT_STREQ(line.c_str(), c.after) << c.line;
  }
  EXPECT_EQ(extract_uid(LogGates{}, nullptr, nullptr), kUidNoText);
}

// Whichever way a number is read, it is the value strtod gives.
TEST(ReadDecimal, SameAsStrtod) {
  for (const char *text :
       {"1796083246\n", "299418", "007 ", "123456789012345\r\n", "1234567890123456",
        "99999999999999999999", "12.5", "12e3", "0x1F", "1,5", "", "x", "18446744073709551616\t"})
    EXPECT_EQ(read_decimal(text), strtod(text, nullptr)) << text;
}

TEST(ElementValue, OffsetsAndLengths) {
  const struct {
    const char *xml;
    int32_t result, offset, length;
  } cases[] = {
      {"<creationTimestamp>2020-01-01T10:00:00.000Z</creationTimestamp>", 0, 19, 24},
      {"<creationTimestamp xmlns:a=\"u\" xmlns:b=\"v\">7</creationTimestamp>", 0, 43, 1},
      {"<creationTimestamp>2020", 0, 19, 4},
      {"<other>1</other>", -1, 0, 0},
  };
  for (const auto &c : cases) {
    int32_t offset = 0, length = 0;
    int32_t rc = get_xml_element_value(LogGates{}, c.xml, "creationTimestamp", &offset, &length);
    EXPECT_EQ((std::vector{rc, offset, length}), (std::vector{c.result, c.offset, c.length}))
        << c.xml;
  }
}

// A creation timestamp is kept where its place fits 32 bits and its length 15; none: no change.
TEST(CreationTimestamp, KeptWhereItsPlaceAndLengthFit) {
  const std::string tag = "<creationTimestamp>", end = "</creationTimestamp>\n";
  const uint64_t at_most = UINT32_MAX;
  const struct {
    uint64_t offset;  // where the value starts in the body
    size_t length;
    bool kept;
  } cases[] = {
      {19, 4, true},         {at_most, 4, true},         {at_most + 1, 4, false},
      {19, INT16_MAX, true}, {19, INT16_MAX + 1, false},
  };
  for (const auto &c : cases) {
    std::string line = tag + std::string(c.length, '7') + end;
    SeqData recs[2] = {};
    recs[1].req_size = c.offset - tag.size() + line.size();  // the line ends the body so far
    recs[1].type = '0';
    uint64_t seq = 1;
    int16_t flag = 0;
    int rc = extract_creation_timestamp(LogGates{}, line.data(), &seq, recs,
                                        static_cast<int32_t>(line.size()), &flag);
    const SeqData &r = recs[1];
    const std::vector<uint64_t> kept = {0, '1', c.offset, c.length, 1},
                                not_kept = {1, '0', 0, 0, 0};
    EXPECT_EQ((std::vector<uint64_t>{uint64_t(-rc), uint64_t(r.type), r.creation_ts_offset,
                                     uint64_t(r.creation_ts_size), uint64_t(flag)}),
              c.kept ? kept : not_kept)
        << c.offset << " " << c.length;
  }
  char other[] = "<a>1</a>\n";
  uint64_t seq = 0;
  SeqData rec = {};
  int16_t flag = 0;
  EXPECT_EQ(extract_creation_timestamp(LogGates{}, other, &seq, &rec, 9, &flag) + flag, -1);
}

TEST(ServiceNameFromUrl, LastTwoSegments) {
  const struct {
    const char *url;
    const char *name;
  } cases[] = {
      {"http://127.0.0.1/svc/Service.svc?wsdl=1", "svc_Service.svc"},
      {"http://h/a/b/", "b_"},
      {"https://host.example/x", "x"},
      {"http://127.0.0.1/", "127.0.0.1_"},
      {"/a/b/c", "b_c"},
      {"/a/b", "_a_b"},
      {"http://h//a/b", "_a_b"},
      {"plain", "plain"},
      {"http://host.example", "_host.example"},  // no slash after the host
      {"http://h/a/b\tc\x1b", "a_b_c_"},         // safe names (the comma: end-to-end url_names)
  };
  for (const auto &c : cases) {
    std::string url = c.url;
    char name[64];
    testing::internal::CaptureStdout();  // its "url - " line
    get_service_name_from_url(LogGates{}, url.data(), name, sizeof name);
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(name, c.name) << c.url;
    EXPECT_EQ(url, c.url);
  }
}

using namespace loader_test;

const std::string kAction = "HTTP_SOAPACTION=\"urn:Store/IService/GetData\"\n";
const std::string kUrl = "URL=/svc/Service.svc\n";
const std::string kTime = "RequestTimeEx=1600000000.123456\n";
const std::string kTrailer = "&xmlEnd=00\n";
const std::string kEnd = "*******\n";

// A record whose body is body_lines plus the trailer; header lines as given.
std::string record(const std::string &head, const std::string &body_lines) {
  return head + "xml1=000000001" + body_lines + kTrailer + kEnd;
}
std::string record(const std::string &body_lines) {
  return record(kTime + kAction + kUrl, body_lines);
}

const std::string kBody = "<Envelope><Body>\n<XACustId>42</XACustId>\n</Body></Envelope>";

// (time stamp, uid, service name, body) of an accepted record.
using Parsed = std::tuple<uint64_t, int64_t, std::string, std::string>;
// (rejection code, line number)
using ErrorLine = std::pair<int, uint64_t>;

// One loader thread of a fresh run, its error log open, its records (2) soon grown.
struct Parser {
  Parser() {
    thread->t_max_sda_size = 2;
    thread->t_seq_data_arr = static_cast<SeqData *>(calloc(2, sizeof(SeqData)));
    thread->error_file_fp = fopen(error_path.c_str(), "w");
    fputs(kErrorLogHeader, thread->error_file_fp);
  }
  ~Parser() {
    fclose(thread->error_file_fp);
    for (FILE *fp : inputs) fclose(fp);
  }

  // Parses text as one more input file of the thread, its console kept; false when it failed.
  bool parse(const std::string &text) {
    std::string path = write_text(dir + "/SOAP.log." + std::to_string(inputs.size()), text);
    FILE *fp = fopen(path.c_str(), "r");
    inputs.push_back(fp);
    testing::internal::CaptureStdout();
    bool ok = load_sequence_file_new(thread, path.c_str(), fp, &seq_no,
                                     static_cast<int32_t>(inputs.size() - 1));
    console = testing::internal::GetCapturedStdout();
    return ok;
  }
  // parse, with the thread's failure as the driver would write it.
  Outcome parse_to_end(const std::string &text) {
    return run_to_end([&](Failure *e) { return parse(text) || (*e = *thread->failure, false); });
  }

  std::vector<Parsed> records() const {
    std::vector<Parsed> out;
    for (uint64_t i = 0; i < seq_no; i++) {
      const SeqData &r = thread->t_seq_data_arr[i];
      EXPECT_EQ(r.seq, i);
      std::string file = read_text(dir + "/SOAP.log." + std::to_string(r.seq_index));
      EXPECT_EQ(r.req_file_fp, inputs[r.seq_index]);
      out.push_back({r.time_stamp, r.uid,
                     r.runtime_service ? thread->run_time_services[r.service_id].service_name
                                       : run.services.service_map_ptr[r.service_id].service_name,
                     r.req_size ? file.substr(r.req_offset, r.req_size) : ""});
    }
    return out;
  }

  // (code, line) of each error log line; their serials must count from 1.
  std::vector<ErrorLine> error_lines() const {
    fflush(thread->error_file_fp);
    std::vector<ErrorLine> out;
    int serial = 0, code = 0;
    unsigned long line = 0;
    for (const std::string &l : file_lines(error_path)) {
      if (sscanf(l.c_str(), "%d|%d|", &serial, &code) != 2) continue;  // the header
      sscanf(l.c_str() + l.rfind('|') + 1, "%lu", &line);
      EXPECT_EQ(serial, static_cast<int>(out.size() + 1)) << l;
      out.push_back({code, line});
    }
    return out;
  }

  TestRun run;
  TestThreads threads{run, 1, 16};
  ThreadArgs *thread = &threads[0];
  const std::string dir = run.config.replay_dir, error_path = dir + "/error.log.0";
  std::vector<FILE *> inputs;
  uint64_t seq_no = 0;
  std::string console;
};
class ParserTest : public testing::Test, public Parser {};

struct Case {
  const char *name;
  std::string text;
  std::vector<Parsed> records;
  std::vector<ErrorLine> errors;
  uint64_t no_custid = 0, empty_custid = 0;
  bool in_period = false;  // under REPLAY_PERIOD 1600000000 to 1600000010 s
  bool url_mode = false;   // services named by URL, host "h"
};

TEST_F(ParserTest, RecordsAndRejections) {
  const std::string head = kTime + kAction + kUrl, xml = head + "xml1=000000001";
  const std::string svc = "IService_GetData", missing = svc + "_MissingIndex";
  auto rec = [&](int64_t uid, const std::string &body, const std::string &name = "") {
    return Parsed{1600000000123, uid, name.empty() ? svc : name, body};
  };
  const std::string other = "<a>\n<Other>1</Other>", empty = "<XACustId></XACustId><XACustId>5";
  const std::string neg = "<XACustId>-5</XACustId>", nul("<a>\0\n\0<XACustId>7</XACustId>\n", 29);
  const Parsed ok = rec(42, kBody);
  auto hd = [](const std::string &head) { return record(head, kBody); };
  auto timed = [&](const std::string &time) {
    return hd("RequestTimeEx=" + time + "\n" + kAction + kUrl);
  };
  auto acted = [&](const std::string &action) {
    return hd(kTime + "HTTP_SOAPACTION=" + action + "\n" + kUrl);
  };
  const std::string no_act = "HTTP_SOAPACTION=\"\"\n";
  // The URL must fit with "http://" and the host name.
  const std::string url_max = kTime + kAction + "URL=/" + std::string(10017 - 1 - 7 - 9 - 1, 'p');
  const std::string url_over = url_max + "x\n",
                    skipped = hd("RequestTimeEx=1\n" + kAction + "URL=/a=b\n");
  auto at = [&](uint64_t ms) { return Parsed{ms, 42, svc, kBody}; };
  const std::string a2029(2029, 'a'), url_long = "URL=/" + std::string(10007, 'n') + "\n";
  const Case cases[] = {
      {"accepted", record(kBody), {ok}, {}},
      {"blank lines between records", "\n" + record(kBody) + "\n\n" + record(kBody), {ok, ok}, {}},
      {"missing customer id", record(other), {rec(0, other, missing)}, {}, 1},
      {"empty customer id ends the search", record(empty), {rec(0, empty)}, {}, 1, 1},
      {"negative customer id is 0", record(neg), {rec(0, neg)}, {}},
      {"time without fraction", timed("16"), {}, {{101, 1}}},
      {"before the period", timed("1599999999.9"), {}, {{102, 1}}, 0, 0, true},
      {"after the period", timed("1600000011.0"), {}, {{102, 1}}, 0, 0, true},
      {"period end second included", timed("1600000010.0"), {at(1600000010000)}, {}, 0, 0, true},
      {"period start second included", timed("1600000000.0"), {at(1600000000000)}, {}, 0, 0, true},
      {"microseconds", timed("16.5"), {at(16000)}, {}},
      {"signed time parts", timed(" +16.+500000"), {at(16500)}, {}},
      {"negative time part", timed("-16.5"), {}, {{101, 1}}},
      // 2^64 ms is the first time a 64-bit stamp cannot hold; the double
      // just below it is kept.
      {"time of 2^64 ms", timed("18446744073709551.616"), {}, {{101, 1}}},
      {"time below 2^64 ms", timed("18446744073709548.0"), {at(18446744073709547520u)}, {}},
      {"sign without a number", timed("+x16.5"), {}, {{101, 1}}},
      {"second time line wins", record("RequestTimeEx=1.0\n" + head, kBody), {ok}, {}},
      {"two SOAP actions", hd(kTime + kAction + kAction + kUrl), {}, {{103, 3}}},
      {"SOAP action with one slash", acted("\"urn:svc/Op\""), {rec(42, kBody, "urn_svc_Op")}, {}},
      {"SOAP action without a slash", acted("\"GetData\""), {rec(42, kBody, "_GetData")}, {}},
      {"no SOAP action and no URL: 107 first", hd(kTime), {}, {{107, 5}}},
      {"empty SOAP actions around one", hd(kTime + no_act + kAction + no_act + kUrl), {ok}, {}},
      {"only empty SOAP actions", hd(kTime + no_act + kUrl), {}, {{107, 7}}},
      {"URL holding =", hd(kTime + kAction + "URL=/svc?a=b\n"), {}, {{104, 3}}},
      {"missing time", hd(kAction + kUrl), {}, {{105, 6}}},
      {"missing URL", hd(kTime + kAction), {}, {{106, 6}}},
      {"missing time and URL: one error", hd(kAction), {}, {{105, 5}}},
      {"rejection skips to the end", skipped + record(kBody), {ok}, {{101, 1}}},
      {"xml1 line of 15 bytes", head + "xml1=000000001\n" + kBody + kTrailer + kEnd, {ok}, {}},
      {"end line right after the lead-in", xml + kEnd, {rec(0, "", missing)}, {}, 1},
      {"body shorter than its trailer", xml + "abc\n" + kEnd, {}, {{111, 5}}},
      {"body that is just its trailer", record(""), {rec(0, "", missing)}, {}, 1},
      {"unterminated last record dropped", record(kBody) + xml + "<a>\n", {ok}, {}},
      {"unterminated rejection", record(kBody) + "RequestTimeEx=1\n" + kAction, {ok}, {{101, 8}}},
      // "SOAPAction: ", the value and "\r\n" fill the 2,048 bytes but one.
      {"longest SOAP action", acted("\"" + a2029 + "/b\""), {rec(42, kBody, a2029 + "_b")}, {}},
      {"SOAP action a byte too long", acted("\"a" + a2029 + "/b\""), {}, {{108, 2}}},
      {"NUL byte in a URL", hd(kTime + kAction + std::string("URL=/svc\0x\n", 11)), {}, {{112, 3}}},
      {"URL a byte too long, longest URL", hd(url_over) + hd(url_max + "\n"), {ok}, {{109, 3}}},
      {"NUL bytes in a body", record(nul) + record(kBody), {rec(0, nul, missing), ok}, {}, 1},
      // Too long to be a name with "_MissingIndex". (URL mode's names: end-to-end trace_d4_url.)
      {"URL mode, long path", record(kTime + url_long, "<a>"), {}, {{110, 4}}, 0, 0, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Parser p;
    RunConfig &conf = p.run.config;
    if (c.in_period) conf.start_time_stamp = 1600000000, conf.end_time_stamp = 1600000010;
    if (c.url_mode) p.run.options.svc_id_uses_svc_name = 0, strcpy(conf.host_name, "h");
    p.run.log.info_level = 2;
    p.parse(c.text);
    EXPECT_EQ(p.records(), c.records);
    EXPECT_EQ(p.error_lines(), c.errors);
    const ThreadArgs &t = *p.thread;
    const uint64_t n = c.errors.size();
    EXPECT_EQ((std::vector{t.t_invalid_request, t.t_ignore_request, t.t_msgcount,
                           t.t_no_xacustid_messages, t.t_empty_xacustid_messages}),
              (std::vector{n, n, c.records.size() + n, c.no_custid, c.empty_custid}));
  }
}

// A service met through HTTP_WFSOAPACTION keeps that header's own name.
TEST_F(ParserTest, WfSoapActionHead) {
  parse(record(kTime + "HTTP_WFSOAPACTION=\"urn:Store/IService/GetData\"\n" + kUrl, kBody));
  ASSERT_EQ(thread->total_runtime_service, 1);
  EXPECT_STREQ(thread->run_time_services[0].soap_action,
               "WFSoapAction: \"urn:Store/IService/GetData\"\r\n");
}

// Error serials and record numbers run on across the files of a thread.
TEST_F(ParserTest, SeveralFilesAndHeaderLines) {
  parse(record("RequestTimeEx=1\n" + kAction + kUrl, kBody) + record(kBody));
  parse(record(kBody) + record(kAction + kUrl, kBody));
  EXPECT_EQ(seq_no, 2u);
  EXPECT_EQ(thread->t_seq_data_arr[1].seq_index, 1u);
  // The longest header line skipped whole: 9,999 bytes with its newline.
  run.config.ignore_header = 1;
  parse(std::string(9998, 'H') + "\n" + record("RequestTimeEx=1\n" + kAction + kUrl, kBody));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{101, 1}, {105, 13}, {101, 1}}));

  EXPECT_EQ(parse_to_end("").text(),
            "-1load_sequence_file_new:Error: Header line not present in sequence file " + dir +
                "/SOAP.log.3. Exiting ...\n");
}

TEST_F(ParserTest, ConfiguredServiceUsesItsTagAndCounter) {
  add_configured_service(run, "Other", "http://x/", "XACustId");
  add_configured_service(run, "IService_GetData", "http://127.0.0.1/svc/Service.svc", "CustNo");
  const std::string body = "<XACustId>1</XACustId>\n<CustNo>77</CustNo>";
  parse(record(body) + record(kBody));
  // No CustNo in the second: it goes to a service of its own.
  EXPECT_EQ(records(),
            (std::vector<Parsed>{{1600000000123, 77, "IService_GetData", body},
                                 {1600000000123, 0, "IService_GetData_MissingIndex", kBody}}));
  const uint64_t *counter = thread->service_counter;
  EXPECT_EQ((std::vector<uint64_t>{uint64_t(thread->t_seq_data_arr[0].runtime_service), counter[0],
                                   counter[1]}),
            (std::vector<uint64_t>{0, 0, 1}));
}

// Memory not had ends the run, naming what for: a file's reader and parse state, the grown records.
TEST_F(ParserTest, MemoryThatCannotBeHadFailsTheRun) {
  if (!vt_alloc_failures_supported()) GTEST_SKIP() << "the sanitizers keep their own allocator";
  const size_t grown = (2 + loader_grow_step(run, 2)) * sizeof(SeqData);
  const std::string reader =
      "line reader (size = " + std::to_string(sizeof(LineReader) + sizeof(FileParse));
  for (const auto &[bytes, what] :
       {std::pair{sizeof(LineReader), reader},
        {sizeof(FileParse), reader},
        {grown, "Reallocing l_seq_data_arr (size = " + std::to_string(grown)}}) {
    Parser p;
    vt_fail_alloc_of(bytes);
    Outcome o = p.parse_to_end(record(kBody) + record(kBody) + record(kBody));
    vt_fail_alloc_of(0);
    EXPECT_EQ(o.text(), "-1load_sequence_file_new:Out of Memory: " + what + ") for index -1\n")
        << bytes;
  }
}

TEST_F(ParserTest, LongBodies) {
  run.options.do_parameterization = 1;
  auto lines = [](int n) {
    std::string text;
    for (int i = 0; i < n; i++) text += "<Data>" + std::string(i % 150, 'd') + "</Data>\n";
    return text;
  };
  const std::string ts = "<creationTimestamp>2026-12-01T00:01:21Z</creationTimestamp>\n";
  const std::string early =
      "<Envelope>\n<XACustId>7</XACustId>\n" + ts + lines(2000) + "</Envelope>";
  const std::string late = "<Envelope>\n" + lines(1500) + ts + lines(300) +
                           "<creationTimestamp>2027</creationTimestamp>\n" +
                           "<XACustId>8</XACustId>\n" + lines(700) + "</Envelope>";
  const std::string first_two = record(early) + record(kAction + kUrl, lines(3000));
  parse(first_two + record(late));
  EXPECT_EQ(records(), (std::vector<Parsed>{{1600000000123, 7, "IService_GetData", early},
                                            {1600000000123, 8, "IService_GetData", late}}));
  EXPECT_EQ(thread->t_seq_data_arr[0].creation_ts_offset, early.find("2026"));
  EXPECT_EQ(thread->t_seq_data_arr[1].creation_ts_offset, late.find("2026"));
  EXPECT_EQ(thread->t_seq_data_arr[1].creation_ts_size, 20);
  EXPECT_EQ(thread->t_seq_data_arr[1].type, '1');
  // The record without a time line is rejected at its end line.
  uint64_t end_line = static_cast<uint64_t>(std::count(first_two.begin(), first_two.end(), '\n'));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{105, end_line}}));
}

}  // namespace
