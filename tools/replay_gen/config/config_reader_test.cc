#include "tools/replay_gen/config/config_reader.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>

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
    if (name == "period") return s(c.start_time_stamp) + "-" + s(c.end_time_stamp);
    if (name == "memory_limit") return s(c.memory_limit);
    return "no field " + name;
  }
};

// Lines applied to a fresh run: the field they set, the value they leave
// there and the warning they give, if any (line 0: no file was read).
// Periods are local times.
TEST_F(Config, KeywordLines) {
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  const struct {
    std::string line, field, value, warning = "";
  } cases[] = {
      {"SCRIPT_TYPE||Legacy|x", "script_type", "Legacy"},
      {"  SCRIPT_TYPE|Legacy", "script_type", "C",
       ": '  SCRIPT_TYPE' is no keyword (did you mean SCRIPT_TYPE?)"},
      {"HTTP_VERSION|123456789", "http_version", "123456789"},
      {"NEW_USER_TIME|10:00", "new_user_time", "600000"},
      {"NUM_PROCESSES|256", "num_vvm", "256"},
      {"SUITE_COMMAND_TIME_LIMIT|604800", "suite_command_time_limit", "604800"},
      {"FOO|1", "suite_command_time_limit", "600", ": 'FOO' is no keyword"},
      // The keywords known by how the line begins are among those suggested.
      {"HOST_HEADR|h", "host", "127.0.0.1,Host: 127.0.0.1",
       ": 'HOST_HEADR' is no keyword (did you mean HOST_HEADER?)"},
      {"SCRIPT_TYPE=Legacy", "script_type", "C",
       " has no '|': a keyword and its value are separated by '|' (as in REPLAY_DIR|/data/replay)"},
      {" \t", "script_type", "C"},
      {"MSG_COUNT_PER_FILE 7", "msg_count_per_file", "7"},
      {"INPUT_DIR|/logs|*", "input_dir", "INPUT_DIR|/logs|*"},
      {"HOST_HEADER|example:8080|x", "host", "example:8080|x,Host: example:8080|x"},
      {"SCRIPT_NAME|proj//sub/script/", "script_name", "proj//sub/script/"},
      {"SCENARIO_NAME|p/s/x.conf.old", "scenario_name", "p/s/x.conf.old"},
      {"REPLAY_PERIOD|NA|NA", "period", "0-0"},
      // Winter (UTC-5); text after the six numbers is ignored.
      {"REPLAY_PERIOD|01/31/2020 10:00:00|01/31/2020 11:00:00 x", "period",
       "1580482800-1580486400"},
      // Month 31 is carried forward to July 2022 (summer, UTC-4).
      {"REPLAY_PERIOD|31/01/2020 10:00:00|NA", "period", "1656684000-0"},
      // NA keeps what an earlier line set.
      {"REPLAY_PERIOD|01/31/2020 10:00:00|NA\nREPLAY_PERIOD|NA|01/31/2020 11:00:00", "period",
       "1580482800-1580486400"},
      // The lowest month that fits, taken back from the highest year.
      {"REPLAY_PERIOD|NA|-2147483647/1/2147483647 0:0:0", "period", "0-62120639668510800"},
      {"MEMORY_LIMIT|512M", "memory_limit", "536870912"},
      {"MEMORY_LIMIT|4k", "memory_limit", "4096"},
      {"MEMORY_LIMIT|1048576T", "memory_limit", "1152921504606846976"},
  };
  for (const auto &c : cases) {
    run_ = std::make_unique<RunState>();
    std::istringstream lines(c.line);
    Outcome out = run_to_end([&](Failure *e) {
      for (std::string line; std::getline(lines, line);)
        if (!apply_config_line(run(), line.data(), e)) return false;
      return true;
    });
    std::string warning = c.warning.empty() ? ""
                                            : "read_config_file_new:Line 0 of the configuration" +
                                                  c.warning + "; the line is ignored.\n";
    EXPECT_EQ(s(out.status) + out.err + "," + field(c.field), "0" + warning + "," + c.value)
        << c.line;
  }
  unsetenv("TZ");
  tzset();
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
// its lines acts, as is one that cannot be opened or read.
TEST_F(Config, RefusedFiles) {
  const std::string crlf = " has Windows line ends (CR LF, first at line ";
  const std::string sed = "); convert it first, e.g. with: sed -i 's/\\r$//' 'FILE'";
  const struct {
    std::string text, err;
  } texts[] = {
      {"SCRIPT_TYPE|Legacy\r\nSCRIPT_TYPE|C\r\n", crlf + "1" + sed},
      {"SCRIPT_TYPE|Legacy\n# note\r\n", crlf + "2" + sed},
      {"SCRIPT_TYPE|Legacy\n\nNUM_VVM|2\r", crlf + "3" + sed},
      {"\xEF\xBB\xBFSCRIPT_TYPE|Legacy\n",
       " starts with a UTF-8 byte-order mark (bytes EF BB BF); save it without one, e.g. with: "
       "sed -i '1s/^\\xEF\\xBB\\xBF//' 'FILE'"},
  };
  for (const auto &c : texts) {
    Outcome out = read(c.text);
    EXPECT_EQ(s(out.status) + out.err + run().config.script_type,
              "-1read_config_file_new:Configuration file FILE" + c.err + "\nC")
        << c.text;
  }
  auto read_path = [&](const char *path) {
    return run_to_end([&](Failure *e) { return read_config_file_new(run(), path, e); }).text();
  };
  EXPECT_EQ(read_path("/nonexistent/x.conf"),
            "-1open_file:Unable to open file /nonexistent/x.conf\n");
  // One that opens but cannot be read from its first byte.
  EXPECT_EQ(read_path("/proc/self/mem"),
            "-1read_config_file_new:Unable to read configuration file /proc/self/mem: "
            "Input/output error\n");
}

// A refused line ends the reading at once: the line after it sets nothing.
// Its message holds `says` (the whole texts: the end-to-end cases
// config_refused_value and safety_numbers).
TEST_F(Config, RefusedLines) {
  const struct {
    std::string line, says;
  } cases[] = {
      {"SCRIPT_NAME|",
       "\nread_config_file_new:SCRIPT_NAME at line 2 of the configuration has no "
       "value.\n"},
      {"NUM_PROCESSES|", "NUM_PROCESSES at line 2 of the configuration has no value."},
      {"MEMORY_LIMIT|", "MEMORY_LIMIT at line 2 of the configuration has no value."},
      {"MSG_COUNT_PER_FILE|abc", "Invalid value for MSG_COUNT_PER_FILE, It should be greater"},
      {"MSG_COUNT_PER_FILE|-5", "is -5; it must be greater than 0."},
      {"MSG_COUNT_PER_FILE|115292150460684698", "is 115292150460684698; at most 1152921504606846"},
      {"NUM_VVM|0", "is 0; it must be between 1 and 256."},
      // Values show their control characters escaped.
      {"NUM_VVM|2\r|", "is '2\\r'; it must be a whole number between 1 and 256."},
      {"SCRIPT_TYPE|\x1b[2J\t\x7f",
       "Invalid script type \\x1b[2J\\t\\x7f. It should be Legacy or C"},
      {"SCRIPT_TYPE|c", "Invalid script type c."},
      // Durations, worker and record counts are read whole: no wrap-around,
      // no trailing text; beyond 64 bits either way, the milliseconds stop at
      // the bound.
      {"NEW_USER_TIME|600:00:00", "is 600:00:00 (2160000000 milliseconds); it must be between 0"},
      {"NEW_USER_TIME|-4294967", " gives -4294967000 milliseconds; it must be between 0 and"},
      {"NEW_USER_TIME|9223372036854775807:0", " (9223372036854775807 milliseconds); it must"},
      {"NEW_USER_TIME|-9223372036854775807:0", " gives -9223372036854775808 milliseconds;"},
      {"SUITE_COMMAND_TIME_LIMIT|0", "is '0'; it must be a whole number of seconds between 1 and"},
      {"SUITE_COMMAND_TIME_LIMIT|604801", "is '604801'; it must be"},
      {"SUITE_COMMAND_TIME_LIMIT|10m", "is '10m'; it must be"},
      {"SUITE_COMMAND_TIME_LIMIT|99999999999999999999", "is '99999999999999999999'; it must be"},
      {"HTTP_VERSION|1234567890", "is 10 characters long; at most 9 are allowed."},
      {"SCRIPT_NAME|a/b/" + std::string(9996, 'c'), "is 10000 characters long; at most 9999 are"},
      {"HOST_HEADER|" + std::string(9994, 'h'), "is 9994 characters long; at most 9993 are"},
      // Names whose parts would lead out of the project tree (more in the
      // end-to-end case safety_names_contained).
      {"SCENARIO_NAME|p/./x.conf", "has the part '.' in 'p/./x.conf'; a part may not be empty"},
      {"SCENARIO_NAME|p/s/x", "Scenario file name (p/s/x) is not correct."},
      {"SCRIPT_NAME|proj/script", "Script in config file [proj/script] is not in correct format"},
      {"SCRIPT_NAME|/p/s/x", "Script path:'/p/s/x' can not be started with '/'"},
      {"REPLAY_PERIOD|01/31/2020 10:00:00", "Invalid format of REPLAY_PERIOD"},
      {"REPLAY_PERIOD|NA|tomorrow", "Invalid format of Replay period, end date/time - tomorrow"},
      {"REPLAY_PERIOD|12/31/1969 00:00:00|NA", "start date/time 12/31/1969 00:00:00 at line 2"},
      {"REPLAY_PERIOD|NA|-2147483648/1/2020 0:0:0", "end date/time -2147483648/1/2020 0:0:0 at"},
      // The budget: a size with an optional unit, 4K at least.
      {"MEMORY_LIMIT|8GB", "is '8GB'; it must be a size from 4K to 1048576T"},
      {"MEMORY_LIMIT|4095", "is '4095'; it must be a size"},
      {"MEMORY_LIMIT|1048577T", "is '1048577T'; it must be a size"},
      {"MEMORY_LIMIT|1.5G", "is '1.5G'; it must be a size"},
  };
  for (const auto &c : cases) {
    Outcome out = read("# first line\n" + c.line + "\nSCRIPT_NAME|p/s/x\n");
    EXPECT_EQ(out.status, -1) << c.line;
    EXPECT_NE(("\n" + out.err).find(c.says), std::string::npos) << c.line << "\n" << out.err;
    EXPECT_STREQ(run().config.script_name, "") << c.line;
  }
}

// One configured service too many, at its line. (The table is made whole
// beforehand: grown four at a time, the address sanitizer takes minutes.)
TEST_F(Config, OneServiceTooMany) {
  std::string services;
  for (int i = 0; i <= 32767; i++)
    services += "SERVICE_NAME|S" + s(i) + "|POST|http://h/" + s(i) + "\n";
  Outcome out = read(services, [](RunState &run) {
    run.services.max_services = kMaxServices + 1;
    run.services.service_map_ptr =
        static_cast<ServiceMap *>(calloc(kMaxServices + 1, sizeof(ServiceMap)));
  });
  EXPECT_EQ(out.text(),
            "-1set_service:SERVICE_NAME at line 32768 of the configuration is one service too "
            "many; at most 32767 services are allowed.\n");
}

// The final check wants the script, scenario and replay paths.
TEST_F(Config, ValidatedWhole) {
  auto validate = [&](Failure *e) { return validate_config_file_data(run(), e); };
  strcpy(run().config.replay_dir, "/tmp/r");
  strcpy(run().config.scenario_name, "p/s/x.conf");
  EXPECT_EQ(run_to_end(validate).text(),
            "-1validate_config_file_data:Replay,Script and Scenario path must be defined in config "
            "file, Exiting...\n");
  strcpy(run().config.script_name, "p/s/x");
  EXPECT_EQ(run_to_end(validate).status, 0);
}

}  // namespace
