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

// A line applied to a fresh run: the field it sets, the value it leaves
// there and the warning it gives, if any (line 0: no file was read).
TEST_F(Config, KeywordLines) {
  const struct {
    std::string line, field, value, warning = "";
  } cases[] = {
      {"SCRIPT_TYPE||Legacy|x", "script_type", "Legacy"},
      {"  SCRIPT_TYPE|Legacy", "script_type", "C",
       "Line 0 of the configuration: '  SCRIPT_TYPE' is no keyword (did you mean SCRIPT_TYPE?); "
       "the line is ignored."},
      {"HTTP_VERSION|123456789", "http_version", "123456789"},
      {"NEW_USER_TIME|10:00", "new_user_time", "600000"},
      {"NUM_PROCESSES|256", "num_vvm", "256"},
      {"SUITE_COMMAND_TIME_LIMIT|604800", "suite_command_time_limit", "604800"},
      {"FOO|1", "suite_command_time_limit", "600",
       "Line 0 of the configuration: 'FOO' is no keyword; the line is ignored."},
      {"NUM_VMM|3", "num_vvm", "0",
       "Line 0 of the configuration: 'NUM_VMM' is no keyword (did you mean NUM_VVM?); the line is "
       "ignored."},
      {"SCRIPT_TYPE=Legacy", "script_type", "C",
       "Line 0 of the configuration has no '|': a keyword and its value are separated by '|' (as "
       "in REPLAY_DIR|/data/replay); the line is ignored."},
      {" \t", "script_type", "C"},
      {"MSG_COUNT_PER_FILE 7", "msg_count_per_file", "7"},
      {"INPUT_DIR|/logs|*", "input_dir", "INPUT_DIR|/logs|*"},
      {"HOST_HEADER|example:8080|x", "host", "example:8080|x,Host: example:8080|x"},
      {"SCRIPT_NAME|proj//sub/script/", "script_name", "proj//sub/script/"},
      {"SCENARIO_NAME|p/s/x.conf.old", "scenario_name", "p/s/x.conf.old"},
      {"REPLAY_PERIOD|NA|NA", "period", "00"},
      {"MEMORY_LIMIT|512M", "memory_limit", "536870912"},
      {"MEMORY_LIMIT|4k", "memory_limit", "4096"},
      {"MEMORY_LIMIT|1048576T", "memory_limit", "1152921504606846976"},
  };
  for (const auto &c : cases) {
    run_ = std::make_unique<RunState>();
    std::string line = c.line;
    Outcome out = run_to_end([&](Failure *e) { return apply_config_line(run(), line.data(), e); });
    std::string warning = c.warning.empty() ? "" : "read_config_file_new:" + c.warning + "\n";
    EXPECT_EQ(s(out.status) + out.err + "," + field(c.field), "0" + warning + "," + c.value)
        << c.line;
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
  const std::string crlf = " has Windows line ends (CR LF, first at line ";
  const std::string sed = "); convert it first, e.g. with: sed -i 's/\\r$//' 'FILE'";
  struct TextCase {
    std::string text, err;
  } texts[] = {
      {"SCRIPT_TYPE|Legacy\r\nSCRIPT_TYPE|C\r\n", crlf + "1" + sed},
      {"SCRIPT_TYPE|Legacy\n# note\r\n", crlf + "2" + sed},
      {"SCRIPT_TYPE|Legacy\n\nNUM_VVM|2\r", crlf + "3" + sed},
      {"\xEF\xBB\xBFSCRIPT_TYPE|Legacy\n",
       " starts with a UTF-8 byte-order mark (bytes EF BB BF); save it without one, e.g. with: "
       "sed -i '1s/^\\xEF\\xBB\\xBF//' 'FILE'"},
  };
  for (const TextCase &c : texts) {
    Outcome out = read(c.text);
    EXPECT_EQ(s(out.status) + out.err + run().config.script_type,
              "-1read_config_file_new:Configuration file FILE" + c.err + "\nC")
        << c.text;
  }
  const std::string rc = "read_config_file_new:", at = " at line 2 of the configuration ";
  auto key = [&](const char *keyword) { return rc + keyword + at; };
  const std::string period =
      "cannot be converted: it must be a local time from 01/01/1970 00:00:00 UTC on.";
  const std::string pv = "proj_subproj_script_scenario_validation:Script";
  const std::string ms = "it must be between 0 and 2147483647 milliseconds (about 596 hours).";
  const std::string secs = "; it must be a whole number of seconds between 1 and 604800.";
  const std::string size =
      "it must be a size from 4K to 1048576T: a whole number of bytes, or one followed by K, M, G "
      "or T (512M, 8G).";
  struct Case {
    std::string line, err;
  } lines[] = {
      {"SCRIPT_NAME|", key("SCRIPT_NAME") + "has no value."},
      {"MSG_COUNT_PER_FILE|abc",
       rc + "Invalid value for MSG_COUNT_PER_FILE, It should be greater than 0"},
      {"MSG_COUNT_PER_FILE|-5", key("MSG_COUNT_PER_FILE") + "is -5; it must be greater than 0."},
      {"NUM_VVM|0", key("NUM_VVM") + "is 0; it must be between 1 and 256."},
      // Values show their control characters escaped.
      {"NUM_VVM|2\r|", key("NUM_VVM") + "is '2\\r'; it must be a whole number between 1 and 256."},
      {"SCRIPT_TYPE|\x1b[2J\t\x7f",
       rc + "Error: Invalid script type \\x1b[2J\\t\\x7f. It should be Legacy or C"},
      // Durations, worker and record counts are read whole: no wrap-around,
      // no trailing text (more in the end-to-end case safety_numbers).
      {"NEW_USER_TIME|600:00:00",
       key("NEW_USER_TIME") + "is 600:00:00 (2160000000 milliseconds); " + ms},
      {"NEW_USER_TIME|-4294967", key("NEW_USER_TIME") + "gives -4294967000 milliseconds; " + ms},
      // Beyond 64 bits either way, the milliseconds stop at the bound.
      {"NEW_USER_TIME|9223372036854775807:0",
       key("NEW_USER_TIME") + "is 9223372036854775807:0 (9223372036854775807 milliseconds); " + ms},
      {"NEW_USER_TIME|-9223372036854775807:0",
       key("NEW_USER_TIME") + "gives -9223372036854775808 milliseconds; " + ms},
      {"NUM_PROCESSES|", key("NUM_PROCESSES") + "has no value."},
      {"SUITE_COMMAND_TIME_LIMIT|0", key("SUITE_COMMAND_TIME_LIMIT") + "is '0'" + secs},
      {"SUITE_COMMAND_TIME_LIMIT|604801", key("SUITE_COMMAND_TIME_LIMIT") + "is '604801'" + secs},
      {"SUITE_COMMAND_TIME_LIMIT|10m", key("SUITE_COMMAND_TIME_LIMIT") + "is '10m'" + secs},
      {"SUITE_COMMAND_TIME_LIMIT|99999999999999999999",
       key("SUITE_COMMAND_TIME_LIMIT") + "is '99999999999999999999'" + secs},
      {"MSG_COUNT_PER_FILE|115292150460684698",
       key("MSG_COUNT_PER_FILE") +
           "is 115292150460684698; at most 115292150460684697 are allowed."},
      // Names whose parts would lead out of the project tree (more in the
      // end-to-end case safety_names_contained).
      {"SCENARIO_NAME|p/./x.conf",
       "proj_subproj_script_scenario_validation:SCENARIO_NAME" + at +
           "has the part '.' in 'p/./x.conf'; a part may not be empty, '.' or '..'."},
      {"HTTP_VERSION|1234567890",
       key("HTTP_VERSION") + "is 10 characters long; at most 9 are allowed."},
      {"SCRIPT_NAME|a/b/" + std::string(9996, 'c'),
       key("SCRIPT_NAME") + "is 10000 characters long; at most 9999 are allowed."},
      {"HOST_HEADER|" + std::string(9994, 'h'),
       key("HOST_HEADER") + "is 9994 characters long; at most 9993 are allowed."},
      {"SCENARIO_NAME|p/s/x",
       rc + "Scenario file name (p/s/x) is not correct. It should have extension .conf"},
      {"SCRIPT_TYPE|c", rc + "Error: Invalid script type c. It should be Legacy or C"},
      {"SCRIPT_NAME|proj/script",
       pv + " in config file [proj/script] is not in correct format. It should be in "
            "project/subproject/name format."},
      {"SCRIPT_NAME|/p/s/x", pv + " path:'/p/s/x' can not be started with '/'"},
      {"REPLAY_PERIOD|01/31/2020 10:00:00", rc + "Invalid format of REPLAY_PERIOD"},
      {"REPLAY_PERIOD|NA|tomorrow",
       rc + "Invalid format of Replay period, end date/time - tomorrow"},
      {"REPLAY_PERIOD|12/31/1969 00:00:00|NA",
       rc + "REPLAY_PERIOD start date/time 12/31/1969 00:00:00" + at + period},
      {"REPLAY_PERIOD|NA|-2147483648/1/2020 0:0:0",
       rc + "REPLAY_PERIOD end date/time -2147483648/1/2020 0:0:0" + at + period},
      // The budget: a size with an optional unit, 4K at least.
      {"MEMORY_LIMIT|", key("MEMORY_LIMIT") + "has no value."},
      {"MEMORY_LIMIT|8GB", key("MEMORY_LIMIT") + "is '8GB'; " + size},
      {"MEMORY_LIMIT|4095", key("MEMORY_LIMIT") + "is '4095'; " + size},
      {"MEMORY_LIMIT|1048577T", key("MEMORY_LIMIT") + "is '1048577T'; " + size},
      {"MEMORY_LIMIT|1.5G", key("MEMORY_LIMIT") + "is '1.5G'; " + size},
  };
  for (const Case &c : lines) {
    Outcome out = read("# first line\n" + c.line + "\nSCRIPT_NAME|p/s/x\n");
    EXPECT_EQ(s(out.status) + out.err + run().config.script_name, "-1" + c.err + "\n") << c.line;
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
