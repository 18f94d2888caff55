#include "tools/replay_gen/loader/record_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/loader/record_errors.h"
#include "tools/replay_gen/services/runtime_services.h"

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

struct Parsed {
  uint64_t time_stamp;
  int64_t uid;
  std::string service;
  std::string body;
};

bool operator==(const Parsed &a, const Parsed &b) {
  return a.time_stamp == b.time_stamp && a.uid == b.uid && a.service == b.service &&
         a.body == b.body;
}
std::ostream &operator<<(std::ostream &os, const Parsed &p) {
  return os << "{" << p.time_stamp << ", " << p.uid << ", " << p.service << ", [" << p.body << "]}";
}

struct ErrorLine {
  int code;
  uint64_t line;
  bool operator==(const ErrorLine &o) const { return code == o.code && line == o.line; }
};
std::ostream &operator<<(std::ostream &os, const ErrorLine &e) {
  return os << e.code << "@" << e.line;
}

class ParserTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = reset_run_state();
    thread_ = static_cast<ThreadArgs *>(calloc(1, sizeof(ThreadArgs)));
    thread_->t_max_sda_size = 2;  // small, so that growing is exercised
    thread_->t_seq_data_arr = static_cast<SeqData *>(calloc(2, sizeof(SeqData)));
    thread_->service_counter = static_cast<uint64_t *>(calloc(16, sizeof(uint64_t)));
    error_path_ = dir_ + "/error.log.0";
    thread_->error_file_fp = fopen(error_path_.c_str(), "w");
    fputs(kErrorLogHeader, thread_->error_file_fp);
  }

  void TearDown() override {
    free(thread_->t_seq_data_arr);
    free(thread_->service_counter);
    free_runtime_services(thread_);
    if (thread_->error_file_fp) fclose(thread_->error_file_fp);
    free(thread_);
    for (FILE *fp : inputs_) fclose(fp);
    inputs_.clear();
    seq_no_ = 0;
    reset_run_state();
    remove_dir(replay_dir);
    remove_dir(dir_);
  }

  // Parses text as one more input file of the thread; console output is kept
  // in console_.
  void parse(const std::string &text) {
    std::string path = write_file(dir_ + "/SOAP.log." + std::to_string(inputs_.size()), text);
    FILE *fp = fopen(path.c_str(), "r");
    inputs_.push_back(fp);
    testing::internal::CaptureStdout();
    load_sequence_file_new(thread_, path.c_str(), fp, &seq_no_,
                           static_cast<int32_t>(inputs_.size() - 1));
    console_ = testing::internal::GetCapturedStdout();
  }

  std::string service_of(const SeqData &r) const {
    return r.runtime_service ? thread_->run_time_services[r.service_id].service_name
                             : service_map_ptr[r.service_id].service_name;
  }

  std::vector<Parsed> records() const {
    std::vector<Parsed> out;
    for (uint64_t i = 0; i < seq_no_; i++) {
      const SeqData &r = thread_->t_seq_data_arr[i];
      EXPECT_EQ(r.seq, i);
      std::string file = read_file(dir_ + "/SOAP.log." + std::to_string(r.seq_index));
      EXPECT_EQ(r.req_file_fp, inputs_[r.seq_index]);
      out.push_back({r.time_stamp, r.uid, service_of(r),
                     r.req_size ? file.substr(r.req_offset, r.req_size) : ""});
    }
    return out;
  }

  std::vector<ErrorLine> error_lines() const {
    fflush(thread_->error_file_fp);
    std::vector<std::string> lines = file_lines(error_path_);
    std::vector<ErrorLine> out;
    for (size_t i = 1; i < lines.size(); i++) {
      int serial = 0, code = 0;
      unsigned long line = 0;
      sscanf(lines[i].c_str(), "%d|%d|", &serial, &code);
      sscanf(lines[i].c_str() + lines[i].rfind('|') + 1, "%lu", &line);
      EXPECT_EQ(serial, static_cast<int>(i)) << lines[i];
      out.push_back({code, line});
    }
    return out;
  }

  std::string dir_, error_path_;
  ThreadArgs *thread_ = nullptr;
  std::vector<FILE *> inputs_;
  uint64_t seq_no_ = 0;
  std::string console_;
};

const std::string kBodyOut = "<Envelope><Body>\n<XACustId>42</XACustId>\n</Body></Envelope>";

struct Case {
  const char *name;
  std::string text;
  std::vector<Parsed> records;
  std::vector<ErrorLine> errors;
  uint64_t no_custid = 0, empty_custid = 0;
};

TEST_F(ParserTest, RecordsAndRejections) {
  const Parsed ok{1600000000123, 42, "IService_GetData", kBodyOut};
  auto body_with = [](const std::string &uid_line) {
    return "<Envelope><Body>\n" + uid_line + "\n</Body></Envelope>";
  };
  const Case cases[] = {
      {"accepted", record(kBody), {ok}, {}},
      {"blank lines between records", "\n" + record(kBody) + "\n\n" + record(kBody), {ok, ok}, {}},
      {"blank line inside a body",
       record("<a>\n\n<XACustId>42</XACustId>"),
       {{1600000000123, 42, "IService_GetData", "<a>\n\n<XACustId>42</XACustId>"}},
       {}},
      {"missing customer id",
       record(body_with("<Other>1</Other>")),
       {{1600000000123, 0, "IService_GetData_MissingIndex", body_with("<Other>1</Other>")}},
       {},
       1},
      {"empty customer id ends the search",
       record(body_with("<XACustId></XACustId><XACustId>5</XACustId>")),
       {{1600000000123, 0, "IService_GetData",
         body_with("<XACustId></XACustId><XACustId>5</XACustId>")}},
       {},
       1,
       1},
      {"customer id of letters or negative is 0, not missing",
       record(body_with("<XACustId>-5</XACustId>")) + record(body_with("<XACustId>ab</XACustId>")),
       {{1600000000123, 0, "IService_GetData", body_with("<XACustId>-5</XACustId>")},
        {1600000000123, 0, "IService_GetData", body_with("<XACustId>ab</XACustId>")}},
       {}},
      {"time without fraction",
       record("RequestTimeEx=1600000000\n" + kAction + kUrl, kBody),
       {},
       {{101, 1}}},
      {"time not a number",
       record("RequestTimeEx=abc.5\n" + kAction + kUrl, kBody),
       {},
       {{101, 1}}},
      {"time with an empty fraction",
       record("RequestTimeEx=16.\n" + kAction + kUrl, kBody),
       {},
       {{101, 1}}},
      {"microseconds, not a decimal fraction",
       record("RequestTimeEx=1600000000.5\n" + kAction + kUrl, kBody),
       {{1600000000000, 42, "IService_GetData", kBodyOut}},
       {}},
      {"second time line replaces the first",
       record("RequestTimeEx=1.0\n" + kTime + kAction + kUrl, kBody),
       {ok},
       {}},
      {"two SOAP actions", record(kTime + kAction + kAction + kUrl, kBody), {}, {{103, 3}}},
      {"empty SOAP actions around one",
       record(kTime + "HTTP_SOAPACTION=\"\"\n" + kAction + "HTTP_SOAPACTION=\n" + kUrl, kBody),
       {ok},
       {}},
      {"only empty SOAP actions",
       record(kTime + "HTTP_SOAPACTION=\"\"\n" + kUrl, kBody),
       {},
       {{107, 7}}},
      {"URL holding =", record(kTime + kAction + "URL=/svc?a=b\n", kBody), {}, {{104, 3}}},
      {"URL without path", record(kTime + kAction + "URL=\n", kBody), {}, {{104, 3}}},
      {"missing time", record(kAction + kUrl, kBody), {}, {{105, 6}}},
      {"missing URL", record(kTime + kAction, kBody), {}, {{106, 6}}},
      {"missing time and URL: one error", record(kAction, kBody), {}, {{105, 5}}},
      {"rejected record skipped to its end line",
       record("RequestTimeEx=1\n" + kAction + "URL=/a=b\n", kBody) + record(kBody),
       {ok},
       {{101, 1}}},
      {"xml1 line of 15 bytes carries no body",
       kTime + kAction + kUrl + "xml1=000000001\n" + kBody + kTrailer + kEnd,
       {ok},
       {}},
      {"end line right after the lead-in: empty body",
       kTime + kAction + kUrl + "xml1=000000001*******\n",
       {{1600000000123, 0, "IService_GetData_MissingIndex", ""}},
       {},
       1},
      {"body shorter than its trailer",
       kTime + kAction + kUrl + "xml1=000000001abc\n" + kEnd,
       {},
       {{111, 5}}},
      {"body of exactly the trailer",
       kTime + kAction + kUrl + "xml1=000000001" + kTrailer + kEnd,
       {{1600000000123, 0, "IService_GetData_MissingIndex", ""}},
       {},
       1},
      {"end line in the header section is ignored", kEnd + record(kBody), {ok}, {}},
      {"unterminated last record is dropped",
       record(kBody) + kTime + kAction + kUrl + "xml1=000000001<a>\n",
       {ok},
       {}},
      {"unterminated rejected record is counted as ignored",
       record(kBody) + "RequestTimeEx=1\n" + kAction,
       {ok},
       {{101, 8}}},
      {"WFSoapAction and a one-slash action",
       record(kTime + "HTTP_WFSOAPACTION=\"urn:svc/Op\"\n" + kUrl, kBody),
       {{1600000000123, 42, "urn_svc_Op", kBodyOut}},
       {}},
      {"action without a slash",
       record(kTime + "HTTP_SOAPACTION=\"GetData\"\n" + kUrl, kBody),
       {{1600000000123, 42, "_GetData", kBodyOut}},
       {}},
      {"too long SOAP action",
       record(kTime + "HTTP_SOAPACTION=\"" + std::string(2100, 'a') + "\"\n" + kUrl, kBody),
       {},
       {{108, 2}}},
      {"NUL byte in a URL",
       record(kTime + kAction + std::string("URL=/svc\0x\n", 11), kBody),
       {},
       {{112, 3}}},
      {"NUL bytes in a body keep offsets exact",
       record(std::string("<a>\0\n\0<XACustId>7</XACustId>\n", 29)) + record(kBody),
       {{1600000000123, 0, "IService_GetData_MissingIndex",
         std::string("<a>\0\n\0<XACustId>7</XACustId>\n", 29)},
        ok},
       {},
       1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    parse(c.text);
    EXPECT_EQ(records(), c.records);
    EXPECT_EQ(error_lines(), c.errors);
    EXPECT_EQ(thread_->t_invalid_request, c.errors.size());
    EXPECT_EQ(thread_->t_ignore_request, c.errors.size());
    EXPECT_EQ(thread_->t_msgcount, c.records.size() + c.errors.size());
    EXPECT_EQ(thread_->t_no_xacustid_messages, c.no_custid);
    EXPECT_EQ(thread_->t_empty_xacustid_messages, c.empty_custid);
  }
}

TEST_F(ParserTest, AcceptedRecordFields) {
  host_name[0] = '\0';
  snprintf(host_name, sizeof host_name, "10.0.0.9:8080");
  std::string text = "\n" + record(kBody);
  parse(text);
  ASSERT_EQ(seq_no_, 1u);
  const SeqData &r = thread_->t_seq_data_arr[0];
  size_t lead = text.find("xml1=") + 14;
  EXPECT_EQ(r.req_offset, static_cast<off_t>(lead));
  EXPECT_EQ(r.req_offset + r.req_size, text.rfind(kEnd) - kTrailer.size());
  EXPECT_EQ(r.runtime_service, 1);
  EXPECT_EQ(r.service_id, 0);
  ASSERT_EQ(thread_->total_runtime_service, 1);
  const RunTimeServiceInfo &s = thread_->run_time_services[0];
  EXPECT_STREQ(s.url, "http://10.0.0.9:8080/svc/Service.svc");
  EXPECT_STREQ(s.soap_action, "SOAPAction: \"urn:Store/IService/GetData\"\r\n");
  EXPECT_EQ(s.num_requests, 1u);
  EXPECT_EQ(r.type, 0);
  EXPECT_EQ(r.creation_ts_offset, 0u);
}

TEST_F(ParserTest, ConsoleLinesOfRejections) {
  info_level = 2;
  start_time_stamp = 1600000000;
  end_time_stamp = 1600000010;
  auto timed = [](const char *secs) {
    return record(std::string("RequestTimeEx=") + secs + ".0\n" + kAction + kUrl, kBody);
  };
  // Seven lines per record with three header lines, six with two.
  parse(timed("1599999999") + timed("1600000011") + timed("1600000000") +            // 1-21
        timed("1600000010") + record("RequestTimeEx=7\n" + kAction + kUrl, kBody) +  // 22-35
        record(kTime + kAction + kAction + kUrl, kBody) +                            // 36-43
        record(kTime + kAction + "URL=/a=b\n", kBody) +                              // 44-50
        record(kAction + kUrl, kBody) + record(kTime + kUrl, kBody) +                // 51-62
        record(kTime + kAction, kBody) +                                             // 63-68
        record(kTime + kAction + kUrl, "<a></a>"));                                  // 69-73
  EXPECT_EQ(seq_no_, 3u);
  const char *expected[] = {
      "    Processing Thread[0]:RequestTime 1599999999.000000 is less than start time stamp "
      "1600000000 stamp given in REPLAY_PERIOD at line 1. This request will be ignored\n",
      "    Processing Thread[0]:RequestTime 1600000011.000000 is greater than end time stamp "
      "1600000010 stamp given in REPLAY_PERIOD at line 8. This request will be ignored\n",
      "    Processing Thread[0]:RequestTimeEx format is not correct in at line number 29. This "
      "request will be ignored.\n",
      "    Processing Thread[0]:SOAPACTION header given multiple time at line 38. This request "
      "will be ignored\n",
      "    Processing Thread[0]:URL format is not correct at line number 46. This request will "
      "be ignored\n",
      "    Processing Thread[0]:Timestamp was not found in service data (RequestTimeEx=...). This "
      "request will be ignored, line 56\n",
      "    Processing Thread[0]:Service name not found in service data (HTTP_SOAPACTION=...) or "
      "(HTTP_WFSOAPACTION=...). This request will be ignored, line 62\n",
      "    Processing Thread[0]:Url name not found in service data (URL=...). This request will be "
      "ignored, line 68\n",
      "    Processing Thread[0]:No uid found in request body at line 73 req 2\n",
      "    Processing Thread[0]:Request Processed form this file = 3\n    Total request processed "
      "= 3. Ignored = 8, Missing custid = 1 (No custid = 1, Empty custid = 0)\n",
  };
  size_t at = 0;
  for (const char *line : expected) {
    size_t found = console_.find(line, at);
    EXPECT_NE(found, std::string::npos) << line << "--- console:\n" << console_;
    if (found != std::string::npos) at = found;
  }
  fflush(thread_->error_file_fp);
  std::vector<std::string> lines = file_lines(error_path_);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "#|Error-Code|Error-Message|Request-File|Line-Number");
  EXPECT_EQ(lines[1], "1|102|RequestTimeEx is out of range|" + dir_ + "/SOAP.log.0|1");
  EXPECT_EQ(lines[6], "6|105|RequestTimeEx is missing|" + dir_ + "/SOAP.log.0|56");
  EXPECT_EQ(lines[7], "7|107|ALL SOAPACTION header are empty ,can't generate service_name|" + dir_ +
                          "/SOAP.log.0|62");
}

TEST_F(ParserTest, ErrorSerialsAndSeqRunAcrossFiles) {
  parse(record("RequestTimeEx=1\n" + kAction + kUrl, kBody) + record(kBody));
  parse(record(kBody) + record(kAction + kUrl, kBody));
  EXPECT_EQ(seq_no_, 2u);
  EXPECT_EQ(thread_->t_seq_data_arr[1].seq_index, 1u);
  EXPECT_EQ(thread_->t_max_sda_size, 10002u);
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{101, 1}, {105, 13}}));
}

TEST_F(ParserTest, IgnoreHeader) {
  ignore_header = 1;
  parse("HEADER LINE\n" + record("RequestTimeEx=1\n" + kAction + kUrl, kBody));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{101, 1}}));

  set_vt_exit_hook(throw_on_vt_exit);
  testing::internal::CaptureStderr();
  int status = 0;
  try {
    parse("");
  } catch (const VtExit &e) {
    status = e.status;
    testing::internal::GetCapturedStdout();
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, -1);
  EXPECT_NE(err.find("load_sequence_file_new:Error: Header line not present in sequence file " +
                     dir_ + "/SOAP.log.1. Exiting ..."),
            std::string::npos);
}

TEST_F(ParserTest, ConfiguredServiceUsesItsTagAndCounter) {
  add_configured_service("Other", "http://x/", "XACustId");
  add_configured_service("IService_GetData", "http://127.0.0.1/svc/Service.svc", "CustNo");
  parse(record("<XACustId>1</XACustId>\n<CustNo>77</CustNo>") + record(kBody));
  ASSERT_EQ(seq_no_, 2u);
  EXPECT_EQ(thread_->t_seq_data_arr[0].uid, 77);
  EXPECT_EQ(thread_->t_seq_data_arr[0].service_id, 1);
  EXPECT_EQ(thread_->t_seq_data_arr[0].runtime_service, 0);
  // No CustNo in the second: it goes to a service of its own.
  EXPECT_EQ(service_of(thread_->t_seq_data_arr[1]), "IService_GetData_MissingIndex");
  EXPECT_EQ(thread_->service_counter[1], 1u);
  EXPECT_EQ(thread_->service_counter[0], 0u);
}

TEST_F(ParserTest, CreationTimestampWithParameterization) {
  do_parameterization = 1;
  std::string body =
      "<a>\n<creationTimestamp>2020-01-01T10:00:00Z</creationTimestamp>\n"
      "<creationTimestamp>9</creationTimestamp><XACustId>3</XACustId>";
  parse(record(body));
  ASSERT_EQ(seq_no_, 1u);
  const SeqData &r = thread_->t_seq_data_arr[0];
  EXPECT_EQ(r.type, '1');
  EXPECT_EQ(r.creation_ts_offset, body.find("2020"));
  EXPECT_EQ(r.creation_ts_size, 20);
  EXPECT_EQ(r.uid, 3);
}

TEST_F(ParserTest, UrlModeNamesFromTheUrl) {
  svc_id_uses_svc_name = 0;
  svc_id_uses_url = 1;
  parse(record(kTime + kUrl, kBody) + record(kTime + kAction + kAction + kUrl, kBody));
  EXPECT_EQ(records(), (std::vector<Parsed>{{1600000000123, 42, "svc_Service.svc", kBodyOut},
                                            {1600000000123, 42, "svc_Service.svc", kBodyOut}}));
  EXPECT_EQ(thread_->total_runtime_service, 1);
  EXPECT_STREQ(thread_->run_time_services[0].soap_action, "");
  EXPECT_NE(console_.find("url - svc/Service.svc\n"), std::string::npos);
}

TEST_F(ParserTest, OverLongUrlAndName) {
  // The URL must fit with "http://" and the host name.
  std::string path = "/" + std::string(10017 - 1 - 7 - 9 - 1, 'p');
  parse(record(kTime + kAction + "URL=" + path + "x\n", kBody) +
        record(kTime + kAction + "URL=" + path + "\n", kBody));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{109, 3}}));
  EXPECT_EQ(seq_no_, 1u);

  TearDown();
  SetUp();
  // In URL mode a long path makes a long name: no room for "_MissingIndex".
  svc_id_uses_svc_name = 0;
  snprintf(host_name, sizeof host_name, "h");
  parse(record(kTime + "URL=/" + std::string(10007, 'n') + "\n", "<a>"));
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{110, 4}}));
}

}  // namespace

// Bodies of thousands of lines across the reader's 64 KiB chunks, with the
// customer id and the creation timestamp early or late: the body lines after
// them are passed over, and sizes, ids and line numbers stay exact.
TEST_F(ParserTest, LongBodies) {
  do_parameterization = 1;
  auto lines = [](int n) {
    std::string text;
    for (int i = 0; i < n; i++) text += "<Data>" + std::string(i % 150, 'd') + "</Data>\n";
    return text;
  };
  const std::string ts = "<creationTimestamp>2026-12-01T00:01:21Z</creationTimestamp>\n";
  const std::string early =
      "<Envelope>\n<XACustId>7</XACustId>\n" + ts + lines(2000) + "</Envelope>";
  const std::string late = "<Envelope>\n" + lines(1500) + ts + lines(300) +
                           "<XACustId>8</XACustId>\n" + lines(700) + "</Envelope>";
  std::string text = record(early) + record(kAction + kUrl, lines(3000)) + record(late);
  parse(text);
  std::vector<Parsed> expected = {{1600000000123, 7, "IService_GetData", early},
                                  {1600000000123, 8, "IService_GetData", late}};
  EXPECT_EQ(records(), expected);
  EXPECT_EQ(thread_->t_seq_data_arr[0].creation_ts_offset, early.find("2026"));
  EXPECT_EQ(thread_->t_seq_data_arr[1].creation_ts_offset, late.find("2026"));
  // The record without a time line is rejected at its end line.
  size_t second_end = text.find(kEnd, text.find(kEnd) + 1);
  uint64_t end_line =
      static_cast<uint64_t>(std::count(text.begin(), text.begin() + second_end, '\n')) + 1;
  EXPECT_EQ(error_lines(), (std::vector<ErrorLine>{{105, end_line}}));
}
