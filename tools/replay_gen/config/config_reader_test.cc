#include "tools/replay_gen/config/config_reader.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/test_support.h"

namespace {

template <typename T>
std::string s(T n) {
  return std::to_string(n);
}

// Each reading starts from a fresh run, which the checks after it read.
class Config : public testing::Test {
 protected:
  std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
  RunState &run() { return *run_; }
  // Writes text as a configuration file and reads it into a fresh run
  // (set up by prepare); the file's name in the messages reads FILE.
  Outcome read(const std::string &text, void (*prepare)(RunState &) = nullptr) {
    run_ = std::make_unique<RunState>();
    if (prepare) prepare(run());
    char path[] = "/tmp/vt_config_test_XXXXXX";
    close(mkstemp(path));
    write_text(path, text);
    Outcome out = run_to_end([&](Failure *e) { return read_config_file_new(run(), path, e); });
    unlink(path);
    for (size_t at; (at = out.err.find(path)) != std::string::npos;)
      out.err.replace(at, strlen(path), "FILE");
    return out;
  }
  std::string field(const std::string &name) {
    const RunConfig &c = run().config;
    if (name == "script_type") return c.script_type;
    if (name == "http_version") return c.http_version;
    if (name == "new_user_time") return s(c.new_user_time);
    if (name == "num_vvm") return s(run().workers.num_vvm);
    if (name == "suite_command_time_limit") return s(c.suite_command_time_limit);
    if (name == "msg_count_per_file") return s(c.g_msgcount_per_file);
    if (name == "input_dir") return c.input_dir;
    if (name == "host") return std::string(c.host_name) + "," + c.host_hdr;
    if (name == "script_name") return c.script_name;
    if (name == "scenario_name") return c.scenario_name;
    if (name == "period") return s(c.start_time_stamp) + s(c.end_time_stamp);
    if (name == "memory_limit") return s(c.memory_limit);
    return "no field " + name;
  }
};

TEST_F(Config, KeywordLines) {
  for (const auto &c : read_cases(VT_TESTDATA "/config_values.txt")) {
    run_ = std::make_unique<RunState>();
    std::string line = c[0];
    Outcome out = run_to_end([&](Failure *e) { return apply_config_line(run(), line.data(), e); });
    std::string warning = c.size() > 3 ? "read_config_file_new:" + c[3] + "\n" : "";
    EXPECT_EQ(s(out.status) + out.err + "," + field(c[1]), "0" + warning + "," + c[2]) << c[0];
  }
}

// Every keyword once, those known by how the line begins last.
TEST_F(Config, KeywordNames) {
  std::vector<std::string> names;
  for (int i = 0; const char *k = config_keyword_name(i); i++) names.push_back(k);
  ASSERT_EQ(names.size(), 19u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()),
            (std::vector<std::string>{"INPUT_DIR", "HOST_HEADER", "MSG_COUNT_PER_FILE"}));
  EXPECT_EQ(names.front(), "REPLAY_PERIOD");
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
  EXPECT_EQ(config_keyword_name(-1), nullptr);
}

// A line longer than the buffer is read in pieces, a last line without its
// end counts, the accumulated texts keep every value; a line of 102,400
// characters is one line, one more and its last character is a line.
TEST_F(Config, FileLinesAndAccumulatedTexts) {
  Outcome out = read("#" + std::string(kConfigLineBufSize - 2, 'x') +
                     "SCRIPT_TYPE|Legacy\nHTTP_HEADER|A: 1\nREQ_TOP_LINE|t\nHTTP_HEADER|B: 2\n"
                     "SCENARIO_KEYWORD|K 1\n\nREQ_TOP_LINE|u|ignored");
  ASSERT_EQ(out.status, 0) << out.err;
  const RunConfig &c = run().config;
  EXPECT_EQ(std::string(c.script_type) + "|" + c.http_header + s(c.http_header_len) + "|" +
                c.req_top_line + s(c.req_top_line_len) + "|" + c.scenario_keyword,
            "Legacy|A: 1\r\nB: 2\r\n12|t\nu\n4|K 1\n");
  for (size_t length : {102400u, 102401u}) {
    std::string value(length - strlen("HTTP_HEADER|"), 'v');
    ASSERT_EQ(read("HTTP_HEADER|" + value + "\n").status, 0);
    EXPECT_EQ(run().config.http_header_len,
              static_cast<int32_t>(value.size() + 2 - (length > 102400)));
  }
}

// A file with a byte-order mark or CR LF line ends is refused before any of
// its lines acts; a refused line ends the reading at once.
TEST_F(Config, RefusedFilesAndLines) {
  for (const auto &c : read_cases(VT_TESTDATA "/config_refused_texts.txt")) {
    Outcome out = read(c[0]);
    EXPECT_EQ(s(out.status) + out.err + run().config.script_type,
              "-1read_config_file_new:Configuration file FILE" + c[1] + "\nC")
        << c[0];
  }
  for (const auto &c : read_cases(VT_TESTDATA "/config_refused_lines.txt")) {
    Outcome out = read("# first line\n" + c[0] + "\nSCRIPT_NAME|p/s/x\n");
    EXPECT_EQ(s(out.status) + out.err + run().config.script_name, "-1" + c[1] + "\n") << c[0];
  }
  // One configured service too many, at its line. (The table is made whole
  // beforehand: grown four at a time, the address sanitizer takes minutes.)
  std::string services;
  for (int i = 0; i <= 32767; i++)
    services += "SERVICE_NAME|S" + s(i) + "|POST|http://h/" + s(i) + "\n";
  Outcome out = read(services, [](RunState &run) {
    run.services.max_services = kMaxServices + 1;
    run.services.service_map_ptr =
        static_cast<ServiceMap *>(calloc(kMaxServices + 1, sizeof(ServiceMap)));
  });
  EXPECT_EQ(s(out.status) + out.err,
            "-1set_service:SERVICE_NAME at line 32768 of the configuration is one service too "
            "many; at most 32767 services are allowed.\n");
  auto read_path = [&](const char *path) {
    return run_to_end([&](Failure *e) { return read_config_file_new(run(), path, e); });
  };
  EXPECT_EQ(read_path("/nonexistent/x.conf").err,
            "open_file:Unable to open file /nonexistent/x.conf\n");
  // One that opens but cannot be read from its first byte.
  EXPECT_EQ(read_path("/proc/self/mem").err,
            "read_config_file_new:Unable to read configuration file /proc/self/mem: "
            "Input/output error\n");
  // The final check wants the script, scenario and replay paths.
  strcpy(run().config.replay_dir, "/tmp/r");
  strcpy(run().config.scenario_name, "p/s/x.conf");
  auto validate = [&](Failure *e) { return validate_config_file_data(run(), e); };
  EXPECT_EQ(run_to_end(validate).err,
            "validate_config_file_data:Replay,Script and Scenario path must be defined in config "
            "file, Exiting...\n");
  strcpy(run().config.script_name, "p/s/x");
  EXPECT_EQ(run_to_end(validate).status, 0);
}

TEST_F(Config, ReplayPeriodAsLocalTime) {
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  struct Case {
    const char *lines;
    uint64_t start, end;
  } cases[] = {
      // Winter (UTC-5); text after the six numbers is ignored.
      {"REPLAY_PERIOD|01/31/2020 10:00:00|01/31/2020 11:00:00 x", 1580482800, 1580486400},
      // Month 31 is carried forward to July 2022 (summer, UTC-4).
      {"REPLAY_PERIOD|31/01/2020 10:00:00|NA", 1656684000, 0},
      // NA keeps what an earlier line set.
      {"REPLAY_PERIOD|01/31/2020 10:00:00|NA\nREPLAY_PERIOD|NA|01/31/2020 11:00:00", 1580482800,
       1580486400},
      // The lowest month that fits, taken back from the highest year.
      {"REPLAY_PERIOD|NA|-2147483647/1/2147483647 0:0:0", 0, 62120639668510800},
  };
  for (const Case &c : cases) {
    Outcome out = read(std::string(c.lines) + "\n");
    EXPECT_EQ(s(out.status) + out.err + s(run().config.start_time_stamp) + "-" +
                  s(run().config.end_time_stamp),
              "0" + s(c.start) + "-" + s(c.end))
        << c.lines;
  }
  // The period's trace is of -d 4 only.
  for (int level : {3, 4}) {
    run().log.debug_level = level;
    testing::internal::CaptureStdout();
    std::string line = "REPLAY_PERIOD|01/31/2020 10:00:00|NA";
    Failure err;
    EXPECT_TRUE(apply_config_line(run(), line.data(), &err));
    EXPECT_EQ(testing::internal::GetCapturedStdout().find(
                  "read_config_file_new:Start time stamp - 1580482800\n") != std::string::npos,
              level == 4);
  }
  unsetenv("TZ");
  tzset();
}

}  // namespace
