#include "tools/replay_gen/loader/record_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/core/failing_alloc_test_support.h"
#include "tools/replay_gen/loader/line_reader.h"
#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/loader/record_errors.h"
#include "tools/replay_gen/loader/record_spill.h"
#include "tools/replay_gen/loader/record_state.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/runtime_services.h"
#include "tools/replay_gen/test_support.h"

namespace {

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

class ParserTest : public testing::Test {
 protected:
  void SetUp() override { fresh(); }
  void TearDown() override { release(); }

  // A fresh run with one loader thread, its error log open.
  void fresh() {
    release();
    run_ = std::make_unique<TestRun>();
    threads_ = std::make_unique<TestThreads>(run(), 1, 16);
    thread_ = &(*threads_)[0];
    thread_->t_max_sda_size = 2;  // small, so that growing is exercised
    thread_->t_seq_data_arr = static_cast<SeqData *>(calloc(2, sizeof(SeqData)));
    dir_ = run().config.replay_dir;
    error_path_ = dir_ + "/error.log.0";
    thread_->error_file_fp = fopen(error_path_.c_str(), "w");
    fputs(kErrorLogHeader, thread_->error_file_fp);
  }
  void release() {
    if (thread_ && thread_->error_file_fp) fclose(thread_->error_file_fp);
    for (FILE *fp : inputs_) fclose(fp);
    inputs_.clear();
    seq_no_ = 0;
    threads_.reset();
    run_.reset();
    thread_ = nullptr;
  }
  RunState &run() const { return *run_; }

  // Parses text as one more input file of the thread; console output is kept
  // in console_. False when the file failed the run.
  bool parse(const std::string &text) {
    std::string path = write_text(dir_ + "/SOAP.log." + std::to_string(inputs_.size()), text);
    FILE *fp = fopen(path.c_str(), "r");
    inputs_.push_back(fp);
    testing::internal::CaptureStdout();
    bool ok = load_sequence_file_new(thread_, path.c_str(), fp, &seq_no_,
                                     static_cast<int32_t>(inputs_.size() - 1));
    console_ = testing::internal::GetCapturedStdout();
    return ok;
  }
  // parse, with the thread's failure as the driver would write it.
  Outcome parse_to_end(const std::string &text) {
    return run_to_end([&](Failure *e) { return parse(text) || (*e = *thread_->failure, false); });
  }

  std::vector<Parsed> records() const {
    std::vector<Parsed> out;
    for (uint64_t i = 0; i < seq_no_; i++) {
      const SeqData &r = thread_->t_seq_data_arr[i];
      EXPECT_EQ(r.seq, i);
      std::string file = read_text(dir_ + "/SOAP.log." + std::to_string(r.seq_index));
      EXPECT_EQ(r.req_file_fp, inputs_[r.seq_index]);
      out.push_back({r.time_stamp, r.uid,
                     r.runtime_service ? thread_->run_time_services[r.service_id].service_name
                                       : run().services.service_map_ptr[r.service_id].service_name,
                     r.req_size ? file.substr(r.req_offset, r.req_size) : ""});
    }
    return out;
  }

  // (code, line) of each error log line; their serials must count from 1.
  std::vector<ErrorLine> error_lines() const {
    fflush(thread_->error_file_fp);
    std::vector<ErrorLine> out;
    int serial = 0, code = 0;
    unsigned long line = 0;
    for (const std::string &l : file_lines(error_path_)) {
      if (sscanf(l.c_str(), "%d|%d|", &serial, &code) != 2) continue;  // the header
      sscanf(l.c_str() + l.rfind('|') + 1, "%lu", &line);
      EXPECT_EQ(serial, static_cast<int>(out.size() + 1)) << l;
      out.push_back({code, line});
    }
    return out;
  }

  std::unique_ptr<TestRun> run_;
  std::unique_ptr<TestThreads> threads_;
  std::string dir_, error_path_;
  ThreadArgs *thread_ = nullptr;
  std::vector<FILE *> inputs_;
  uint64_t seq_no_ = 0;
  std::string console_;
};

struct Case {
  const char *name;
  std::string text;
  std::vector<Parsed> records;
  std::vector<ErrorLine> errors;
  uint64_t no_custid = 0, empty_custid = 0;
  bool in_period = false;  // under REPLAY_PERIOD 1600000000 to 1600000010 s
};

TEST_F(ParserTest, RecordsAndRejections) {
  const std::string head = kTime + kAction + kUrl, xml = head + "xml1=000000001";
  const std::string svc = "IService_GetData", missing = svc + "_MissingIndex";
  auto rec = [&](int64_t uid, const std::string &body, const std::string &name = "") {
    return Parsed{1600000000123, uid, name.empty() ? svc : name, body};
  };
  const std::string other = "<a>\n<Other>1</Other>", empty = "<XACustId></XACustId><XACustId>5";
  const std::string neg = "<XACustId>-5</XACustId>",
                    nul_body("<a>\0\n\0<XACustId>7</XACustId>\n", 29);
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
  const std::string url_max = "URL=/" + std::string(10017 - 1 - 7 - 9 - 1, 'p');
  auto at = [&](uint64_t ms) { return Parsed{ms, 42, svc, kBody}; };
  const std::string a2029(2029, 'a');
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
      {"rejection skips to the end",
       hd("RequestTimeEx=1\n" + kAction + "URL=/a=b\n") + record(kBody),
       {ok},
       {{101, 1}}},
      {"xml1 line of 15 bytes", head + "xml1=000000001\n" + kBody + kTrailer + kEnd, {ok}, {}},
      {"end line right after the lead-in", xml + kEnd, {rec(0, "", missing)}, {}, 1},
      {"body shorter than its trailer", xml + "abc\n" + kEnd, {}, {{111, 5}}},
      {"body that is just its trailer", record(""), {rec(0, "", missing)}, {}, 1},
      {"unterminated last record dropped", record(kBody) + xml + "<a>\n", {ok}, {}},
      {"unterminated rejection", record(kBody) + "RequestTimeEx=1\n" + kAction, {ok}, {{101, 8}}},
      {"too long SOAP action", acted(std::string(2100, 'a')), {}, {{108, 2}}},
      // "SOAPAction: ", the value and "\r\n" fill the 2,048 bytes but one.
      {"longest SOAP action", acted("\"" + a2029 + "/b\""), {rec(42, kBody, a2029 + "_b")}, {}},
      {"SOAP action a byte too long", acted("\"a" + a2029 + "/b\""), {}, {{108, 2}}},
      {"NUL byte in a URL", hd(kTime + kAction + std::string("URL=/svc\0x\n", 11)), {}, {{112, 3}}},
      {"longest URL, and one a byte longer",
       hd(kTime + kAction + url_max + "x\n") + hd(kTime + kAction + url_max + "\n"),
       {ok},
       {{109, 3}}},
      {"NUL bytes in a body",
       record(nul_body) + record(kBody),
       {rec(0, nul_body, missing), ok},
       {},
       1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    fresh();
    if (c.in_period)
      run().config.start_time_stamp = 1600000000, run().config.end_time_stamp = 1600000010;
    run().log.info_level = 2;
    parse(c.text);
    EXPECT_EQ(records(), c.records);
    EXPECT_EQ(error_lines(), c.errors);
    // Each rejection is said on the console too, and counted.
    uint64_t said = 0, n = c.errors.size();
    for (size_t at = 0;
         (at = console_.find("This request will be ignored", at)) != std::string::npos; at++)
      said++;
    const ThreadArgs &t = *thread_;
    EXPECT_EQ((std::vector{said, t.t_invalid_request, t.t_ignore_request, t.t_msgcount,
                           t.t_no_xacustid_messages, t.t_empty_xacustid_messages}),
              (std::vector{n, n, n, c.records.size() + n, c.no_custid, c.empty_custid}));
  }
}

// The URL scanner shows the path of every record that has a URL line and no
// SOAP action line, also one already rejected on a later header line, and an
// empty path for a URL line it could not read.
TEST_F(ParserTest, UrlLineShownForRejectedRecords) {
  parse(record(kUrl + "RequestTimeEx=16\n", kBody) + record("URL=/a=b\n", kBody) +
        record(kTime + kUrl, kBody));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{101, 2}, {104, 7}, {107, 17}}));
  std::string urls;
  for (size_t at = console_.find("url - "); at != std::string::npos;
       at = console_.find("url - ", at + 1))
    urls += console_.substr(at, console_.find('\n', at) - at + 1);
  EXPECT_EQ(urls, "url - svc/Service.svc\nurl - \nurl - svc/Service.svc\n");
}

// A service met through HTTP_WFSOAPACTION keeps that header's own name.
TEST_F(ParserTest, WfSoapActionHead) {
  parse(record(kTime + "HTTP_WFSOAPACTION=\"urn:Store/IService/GetData\"\n" + kUrl, kBody));
  ASSERT_EQ(thread_->total_runtime_service, 1);
  EXPECT_STREQ(thread_->run_time_services[0].soap_action,
               "WFSoapAction: \"urn:Store/IService/GetData\"\r\n");
}

// Error serials and record numbers run on across the files of a thread.
TEST_F(ParserTest, SeveralFilesAndHeaderLines) {
  parse(record("RequestTimeEx=1\n" + kAction + kUrl, kBody) + record(kBody));
  parse(record(kBody) + record(kAction + kUrl, kBody));
  EXPECT_EQ(seq_no_, 2u);
  EXPECT_EQ(thread_->t_seq_data_arr[1].seq_index, 1u);
  // The longest header line skipped whole: 9,999 bytes with its newline.
  run().config.ignore_header = 1;
  parse(std::string(9998, 'H') + "\n" + record("RequestTimeEx=1\n" + kAction + kUrl, kBody));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{101, 1}, {105, 13}, {101, 1}}));

  EXPECT_EQ(parse_to_end("").text(),
            "-1load_sequence_file_new:Error: Header line not present in "
            "sequence file " +
                dir_ + "/SOAP.log.3. Exiting ...\n");
}

TEST_F(ParserTest, ConfiguredServiceUsesItsTagAndCounter) {
  add_configured_service(run(), "Other", "http://x/", "XACustId");
  add_configured_service(run(), "IService_GetData", "http://127.0.0.1/svc/Service.svc", "CustNo");
  const std::string body = "<XACustId>1</XACustId>\n<CustNo>77</CustNo>";
  parse(record(body) + record(kBody));
  // No CustNo in the second: it goes to a service of its own.
  EXPECT_EQ(records(),
            (std::vector<Parsed>{{1600000000123, 77, "IService_GetData", body},
                                 {1600000000123, 0, "IService_GetData_MissingIndex", kBody}}));
  EXPECT_EQ(thread_->t_seq_data_arr[0].runtime_service, 0);
  EXPECT_EQ(thread_->service_counter[1], 1u);
  EXPECT_EQ(thread_->service_counter[0], 0u);
}

// In URL mode a long path makes a long service name: no room for
// "_MissingIndex". (Names in URL mode: the end-to-end case trace_d4_url.)
TEST_F(ParserTest, UrlModeLongPathLeavesNoRoomForTheSuffix) {
  run().options.svc_id_uses_svc_name = 0;
  snprintf(run().config.host_name, sizeof run().config.host_name, "h");
  parse(record(kTime + "URL=/" + std::string(10007, 'n') + "\n", "<a>"));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{110, 4}}));
}

// Memory the system cannot give ends the run, naming what it was for: the
// reader of a file and its parse state, or the thread's records as they grow
// past the 2 they have.
TEST_F(ParserTest, MemoryThatCannotBeHadFailsTheRun) {
  if (!vt_alloc_failures_supported()) GTEST_SKIP() << "the sanitizers keep their own allocator";
  const uint64_t grown = (2 + loader_grow_step(run(), 2)) * sizeof(SeqData);
  const std::string reader = "load_sequence_file_new:Out of Memory: line reader (size = " +
                             std::to_string(sizeof(LineReader) + sizeof(FileParse)) +
                             ") for index -1\n";
  const struct {
    size_t bytes;
    std::string err;
  } cases[] = {
      {sizeof(LineReader), reader},
      {sizeof(FileParse), reader},
      {grown, "load_sequence_file_new:Out of Memory: Reallocing l_seq_data_arr (size = " +
                  std::to_string(grown) + ") for index -1\n"},
  };
  for (const auto &c : cases) {
    fresh();
    vt_fail_alloc_of(c.bytes);
    Outcome o = parse_to_end(record(kBody) + record(kBody) + record(kBody));
    vt_fail_alloc_of(0);
    EXPECT_EQ(o.text(), "-1" + c.err) << c.bytes;
  }
}

TEST_F(ParserTest, LongBodies) {
  run().options.do_parameterization = 1;
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
  EXPECT_EQ(thread_->t_seq_data_arr[0].creation_ts_offset, early.find("2026"));
  EXPECT_EQ(thread_->t_seq_data_arr[1].creation_ts_offset, late.find("2026"));
  EXPECT_EQ(thread_->t_seq_data_arr[1].creation_ts_size, 20);
  EXPECT_EQ(thread_->t_seq_data_arr[1].type, '1');
  // The record without a time line is rejected at its end line.
  uint64_t end_line = static_cast<uint64_t>(std::count(first_two.begin(), first_two.end(), '\n'));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{105, end_line}}));
}

}  // namespace
