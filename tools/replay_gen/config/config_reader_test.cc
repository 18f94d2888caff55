#include "tools/replay_gen/config/config_reader.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "tools/replay_gen/config/config_test_reset.h"
#include "tools/replay_gen/records.h"

namespace {

class Config : public testing::Test {
 protected:
  void SetUp() override { reset_config_state(); }
  void TearDown() override {
    reset_config_state();
    if (!path_.empty()) unlink(path_.c_str());
  }

  // Writes text as the configuration file and reads it.
  Outcome read(const std::string &text) {
    char name[] = "/tmp/vt_config_test_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    path_ = name;
    return run_to_end([&] { read_config_file_new(path_.c_str()); });
  }

  std::string path_;
};

std::string str(uint64_t n) {
  return std::to_string(n);
}

TEST_F(Config, KeywordLines) {
  struct Case {
    const char *line;
    std::function<std::string()> value;
    const char *expected;
  } cases[] = {
      {"SCRIPT_TYPE|Legacy", [] { return std::string(script_type); }, "Legacy"},
      {"SCRIPT_TYPE||Legacy|x", [] { return std::string(script_type); }, "Legacy"},
      {"  SCRIPT_TYPE|Legacy", [] { return std::string(script_type); }, "C"},
      {" #SCRIPT_TYPE|Legacy", [] { return std::string(script_type); }, "C"},
      {"script_type|Legacy", [] { return std::string(script_type); }, "C"},
      {"HTTP_VERSION|1.1", [] { return std::string(http_version); }, "1.1"},
      {"HTTP_VERSION|123456789", [] { return std::string(http_version); }, "123456789"},
      {"NEW_USER_TIME|10:00", [] { return str(new_user_time); }, "600000"},
      {"NEW_USER_TIME|x", [] { return str(new_user_time); }, "60000"},
      {"IGNORE_HEADER|1", [] { return str(ignore_header); }, "1"},
      {"NUM_VVM|8", [] { return str(num_vvm); }, "8"},
      {"NUM_PROCESSES|256", [] { return str(num_vvm); }, "256"},
      {"MSG_COUNT_PER_FILE|500", [] { return str(g_msgcount_per_file); }, "500"},
      {"MSG_COUNT_PER_FILE 7", [] { return str(g_msgcount_per_file); }, "7"},
      {"INPUT_DIR|/logs|*|SOAP.log", [] { return std::string(input_dir); },
       "INPUT_DIR|/logs|*|SOAP.log"},
      {"HOST_HEADER|example:8080|x", [] { return std::string(host_name); }, "example:8080|x"},
      {"HOST_HEADER|example:8080|x", [] { return std::string(host_hdr); }, "Host: example:8080|x"},
      {"SCRIPT_NAME|proj/sub/script", [] { return std::string(script_name); }, "proj/sub/script"},
      {"SCRIPT_NAME|proj//sub/script/", [] { return std::string(script_name); },
       "proj//sub/script/"},
      {"SCENARIO_NAME|p/s/x.conf.old", [] { return std::string(scenario_name); }, "p/s/x.conf.old"},
      {"REPLAY_PERIOD|NA|NA", [] { return str(start_time_stamp) + "," + str(end_time_stamp); },
       "0,0"},
      {"FOO|1", [] { return std::string(script_name) + script_type; }, "C"},
  };
  for (const Case &c : cases) {
    reset_config_state();
    std::string line = c.line;
    Outcome out = run_to_end([&] { apply_config_line(line.data()); });
    EXPECT_EQ(out.status, 0) << c.line;
    EXPECT_EQ(out.err, "") << c.line;
    EXPECT_EQ(c.value(), c.expected) << c.line;
  }
}

TEST_F(Config, AccumulatedTexts) {
  Outcome out = read(
      "HTTP_HEADER|A: 1\nREQ_TOP_LINE|top\nHTTP_HEADER|B: 2\nSCENARIO_KEYWORD|K 1\n"
      "REQ_TOP_LINE|next|ignored\n");
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_EQ(http_header_len, 12);
  EXPECT_STREQ(http_header, "A: 1\r\nB: 2\r\n");
  EXPECT_EQ(req_top_line_len, 9);
  EXPECT_STREQ(req_top_line, "top\nnext\n");
  EXPECT_EQ(scenario_keyword_len, 4);
  EXPECT_STREQ(scenario_keyword, "K 1\n");
}

TEST_F(Config, FileLinesAndPieces) {
  // The last line has no line end; a later line replaces an earlier value.
  Outcome out = read("# SCRIPT_TYPE|Legacy\n\nHTTP_VERSION|1.0\r\nHTTP_VERSION|1.1");
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_STREQ(http_version, "1.1");
  EXPECT_STREQ(script_type, "C");

  // A line longer than the buffer is read in pieces; the pieces keep the
  // number of their line in messages.
  std::string long_comment = "#" + std::string(kConfigLineBufSize - 2, 'x');
  out = read(long_comment + "SCRIPT_TYPE|Legacy\nSCRIPT_NAME\n");
  EXPECT_EQ(out.status, -1);
  EXPECT_STREQ(script_type, "Legacy");
  EXPECT_EQ(out.err,
            "read_config_file_new:SCRIPT_NAME at line 2 of the configuration has no value.\n");
}

TEST_F(Config, RefusedLines) {
  const std::string long_name = "a/b/" + std::string(kTextBufSize - 4, 'c');
  struct Case {
    std::string line;
    std::string err;
  } cases[] = {
      {"SCRIPT_NAME", "SCRIPT_NAME at line 2 of the configuration has no value."},
      {"SCRIPT_NAME|", "SCRIPT_NAME at line 2 of the configuration has no value."},
      {"REPLAY_DIR||", "REPLAY_DIR at line 2 of the configuration has no value."},
      {"HOST_HEADER|", "HOST_HEADER at line 2 of the configuration has no value."},
      {"MSG_COUNT_PER_FILE", "MSG_COUNT_PER_FILE at line 2 of the configuration has no value."},
      {"INPUT_DIR|", "INPUT_DIR at line 2 of the configuration has no value."},
      {"MSG_COUNT_PER_FILE|abc",
       "Invalid value for MSG_COUNT_PER_FILE, It should be greater than 0"},
      {"MSG_COUNT_PER_FILE|-5",
       "MSG_COUNT_PER_FILE at line 2 of the configuration is -5; it must be greater than 0."},
      {"NUM_VVM|0", "NUM_VVM at line 2 of the configuration is 0; it must be between 1 and 256."},
      {"NUM_PROCESSES|257",
       "NUM_PROCESSES at line 2 of the configuration is 257; it must be between 1 and 256."},
      {"NUM_VVM|70000",
       "NUM_VVM at line 2 of the configuration is 70000; it must be between 1 and 256."},
      {"NEW_USER_TIME|-1",
       "NEW_USER_TIME at line 2 of the configuration gives -1000 milliseconds; it must be between "
       "0 and 2147483647 milliseconds (about 596 hours)."},
      {"NEW_USER_TIME|600:00:00",
       "NEW_USER_TIME at line 2 of the configuration gives -2134967296 milliseconds; it must be "
       "between 0 and 2147483647 milliseconds (about 596 hours)."},
      {"HTTP_VERSION|1234567890",
       "HTTP_VERSION at line 2 of the configuration is 10 characters long; at most 9 are "
       "allowed."},
      {"SCRIPT_NAME|" + long_name,
       "SCRIPT_NAME at line 2 of the configuration is 10000 characters long; at most 9999 are "
       "allowed."},
      {"INPUT_DIR|" + std::string(kTextBufSize - 10, 'd'),
       "INPUT_DIR at line 2 of the configuration is 10000 characters long; at most 9999 are "
       "allowed."},
      {"HOST_HEADER|" + std::string(9994, 'h'),
       "HOST_HEADER at line 2 of the configuration is 9994 characters long; at most 9993 are "
       "allowed."},
      {"SCENARIO_NAME|p/s/x",
       "Scenario file name (p/s/x) is not correct. It should have extension .conf"},
      {"SCRIPT_TYPE|c", "Error: Invalid script type c. It should be Legacy or C"},
      {"REPLAY_PERIOD|01/31/2020 10:00:00", "Invalid format of REPLAY_PERIOD"},
  };
  for (const Case &c : cases) {
    reset_config_state();
    Outcome out = read("# first line\n" + c.line + "\nSCRIPT_TYPE|Legacy\n");
    EXPECT_EQ(out.status, -1) << c.line;
    EXPECT_EQ(out.err, "read_config_file_new:" + c.err + "\n") << c.line;
    EXPECT_STREQ(script_type, "C") << "nothing after the refused line is read: " << c.line;
  }
}

TEST_F(Config, ProjectPaths) {
  struct Case {
    const char *line;
    const char *err;
  } cases[] = {
      {"SCRIPT_NAME|proj/script",
       "Script in config file [proj/script] is not in correct format. It should be in "
       "project/subproject/name format."},
      {"SCRIPT_NAME|a/b/c/d",
       "Script in config file [a/b/c/d] is not in correct format. It should be in "
       "project/subproject/name format."},
      {"SCENARIO_NAME|a/b/c/d/e.conf",
       "Scenario in config file [a/b/c/d/e.conf] is not in correct format. It should be in "
       "project/subproject/name format."},
      {"SCRIPT_NAME|/proj/sub/script",
       "Script path:'/proj/sub/script' can not be started with '/'"},
  };
  for (const Case &c : cases) {
    reset_config_state();
    std::string line = c.line;
    Outcome out = run_to_end([&] { apply_config_line(line.data()); });
    EXPECT_EQ(out.status, -1) << c.line;
    EXPECT_EQ(out.err, std::string("proj_subproj_script_scenario_validation:") + c.err + "\n");
    EXPECT_STREQ(script_name, "");
  }
}

// Runs the cases under a fixed zone with daylight saving time, then puts the
// machine's zone back.
class ReplayPeriod : public Config {
 protected:
  void SetUp() override {
    Config::SetUp();
    const char *tz = getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", old_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    Config::TearDown();
  }
  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(ReplayPeriod, LocalTimes) {
  struct Case {
    const char *lines;
    uint64_t start, end;
  } cases[] = {
      // Winter (UTC-5) and summer (UTC-4) dates.
      {"REPLAY_PERIOD|01/31/2020 10:00:00|01/31/2020 11:00:00 trailing", 1580482800, 1580486400},
      // Month 31 is carried forward to July 2022.
      {"REPLAY_PERIOD|31/01/2020 10:00:00|NA", 1656684000, 0},
      // NA keeps what an earlier line set.
      {"REPLAY_PERIOD|01/31/2020 10:00:00|NA\nREPLAY_PERIOD|NA|01/31/2020 11:00:00", 1580482800,
       1580486400},
  };
  for (const Case &c : cases) {
    reset_config_state();
    Outcome out = read(std::string(c.lines) + "\n");
    EXPECT_EQ(out.status, 0) << c.lines << out.err;
    EXPECT_EQ(start_time_stamp, c.start) << c.lines;
    EXPECT_EQ(end_time_stamp, c.end) << c.lines;
  }
}

TEST_F(ReplayPeriod, RefusedDates) {
  struct Case {
    const char *line;
    const char *err;
  } cases[] = {
      {"REPLAY_PERIOD|01/31/2020|NA",
       "Invalid format of Replay period, start date/time - 01/31/2020"},
      {"REPLAY_PERIOD|NA|tomorrow", "Invalid format of Replay period, end date/time - tomorrow"},
      {"REPLAY_PERIOD|12/31/1969 00:00:00|NA",
       "REPLAY_PERIOD start date/time 12/31/1969 00:00:00 at line 2 of the configuration cannot "
       "be converted: it must be a local time from 01/01/1970 00:00:00 UTC on."},
      {"REPLAY_PERIOD|NA|-2147483648/1/2020 0:0:0",
       "REPLAY_PERIOD end date/time -2147483648/1/2020 0:0:0 at line 2 of the configuration "
       "cannot be converted: it must be a local time from 01/01/1970 00:00:00 UTC on."},
  };
  for (const Case &c : cases) {
    reset_config_state();
    Outcome out = read(std::string("#\n") + c.line + "\n");
    EXPECT_EQ(out.status, -1) << c.line;
    EXPECT_EQ(out.err, std::string("read_config_file_new:") + c.err + "\n");
  }
}

TEST_F(Config, MissingFileAndFinalCheck) {
  Outcome out = run_to_end([] { read_config_file_new("/nonexistent/x.conf"); });
  EXPECT_EQ(out.status, -1);
  EXPECT_EQ(out.err, "open_file:Unable to open file /nonexistent/x.conf\n");

  const char *missing =
      "validate_config_file_data:Replay,Script and Scenario path must be defined in config file, "
      "Exiting...\n";
  strcpy(replay_dir, "/tmp/r");
  strcpy(scenario_name, "p/s/x.conf");
  out = run_to_end(validate_config_file_data);
  EXPECT_EQ(out.status, -1);
  EXPECT_EQ(out.err, missing);
  strcpy(script_name, "p/s/x");
  out = run_to_end(validate_config_file_data);
  EXPECT_EQ(out.status, 0);
}

}  // namespace
