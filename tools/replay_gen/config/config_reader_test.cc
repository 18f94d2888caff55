#include "tools/replay_gen/config/config_reader.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "base/core/failing_spawn_test_support.h"
#include "tools/replay_gen/config/replay_dir.h"
#include "tools/replay_gen/config/replay_lock.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/test_support.h"

// Armed with a path, the next mkdir finding it there removes it (as another process could).
static std::string vanish_after_mkdir;

extern "C" int mkdir(const char *path, mode_t mode) noexcept {
  using MkdirFn = int (*)(const char *, mode_t);
  static MkdirFn real = reinterpret_cast<MkdirFn>(dlsym(RTLD_NEXT, "mkdir"));
  int rc = real(path, mode);
  if (rc != 0 && errno == EEXIST && !vanish_after_mkdir.empty() && vanish_after_mkdir == path) {
    vanish_after_mkdir.clear();
    rmdir(path);
    errno = EEXIST;
  }
  return rc;
}

namespace {

using std::to_string;

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
  // The fields the lines set, as ";name=value;name=value;...;".
  std::string fields() {
    const RunConfig &c = run().config;
    std::ostringstream o;
    o << ";script_type=" << c.script_type << ";http_version=" << c.http_version
      << ";new_user_time=" << c.new_user_time << ";num_vvm=" << run().workers.num_vvm
      << ";suite_command_time_limit=" << c.suite_command_time_limit
      << ";msg_count_per_file=" << c.g_msgcount_per_file << ";input_dir=" << c.input_dir
      << ";host=" << c.host_name << "," << c.host_hdr << ";script_name=" << c.script_name
      << ";scenario_name=" << c.scenario_name << ";period=" << c.start_time_stamp << "-"
      << c.end_time_stamp << ";memory_limit=" << c.memory_limit << ";";
    return o.str();
  }
};

// A line on a fresh run: the field it sets, its value there, its warning if any. Local times.
TEST_F(Config, KeywordLines) {
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  const struct {
    std::string line, value, warning = "";  // value: "field=value"
  } cases[] = {
      {"SCRIPT_TYPE||Legacy|x", "script_type=Legacy"},
      {"  SCRIPT_TYPE|Legacy", "script_type=C",
       ": '  SCRIPT_TYPE' is no keyword (did you mean SCRIPT_TYPE?)"},
      {"HTTP_VERSION|123456789", "http_version=123456789"},
      {"NEW_USER_TIME|10:00", "new_user_time=600000"},
      {"NUM_PROCESSES|256", "num_vvm=256"},
      {"SUITE_COMMAND_TIME_LIMIT|604800", "suite_command_time_limit=604800"},
      // Keywords known by how the line begins are suggested too. (The other warnings: end-to-end.)
      {"HOST_HEADR|h", "host=127.0.0.1,Host: 127.0.0.1",
       ": 'HOST_HEADR' is no keyword (did you mean HOST_HEADER?)"},
      {"MSG_COUNT_PER_FILE 7", "msg_count_per_file=7"},
      {"INPUT_DIR|/logs|*", "input_dir=INPUT_DIR|/logs|*"},
      {"HOST_HEADER|example:8080|x", "host=example:8080|x,Host: example:8080|x"},
      {"SCRIPT_NAME|proj//sub/script/", "script_name=proj//sub/script/"},
      {"SCENARIO_NAME|p/s/x.conf.old", "scenario_name=p/s/x.conf.old"},
      {"REPLAY_PERIOD|NA|NA", "period=0-0"},
      // Winter (UTC-5); text after the six numbers is ignored.
      {"REPLAY_PERIOD|01/31/2020 10:00:00|01/31/2020 11:00:00 x", "period=1580482800-1580486400"},
      // Month 31 is carried forward to July 2022 (summer, UTC-4).
      {"REPLAY_PERIOD|31/01/2020 10:00:00|NA", "period=1656684000-0"},
      // NA keeps what an earlier line set.
      {"REPLAY_PERIOD|01/31/2020 10:00:00|NA\nREPLAY_PERIOD|NA|01/31/2020 11:00:00",
       "period=1580482800-1580486400"},
      // The lowest month that fits, taken back from the highest year.
      {"REPLAY_PERIOD|NA|-2147483647/1/2147483647 0:0:0", "period=0-62120639668510800"},
      {"MEMORY_LIMIT|4k", "memory_limit=4096"},
      {"MEMORY_LIMIT|1048576T", "memory_limit=1152921504606846976"},
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
    EXPECT_EQ(out.text(), "0" + warning) << c.line;
    EXPECT_NE(fields().find(";" + c.value + ";"), std::string::npos) << c.line << fields();
  }
  unsetenv("TZ");
  tzset();
}

// Long lines read in pieces, a last line without its end, texts accumulated; 102,400 is one line.
TEST_F(Config, FileLinesAndAccumulatedTexts) {
  Outcome out = read("#" + std::string(kConfigLineBufSize - 2, 'x') +
                     "SCRIPT_TYPE|Legacy\nHTTP_HEADER|A: 1\nREQ_TOP_LINE|t\nHTTP_HEADER|B: 2\n"
                     "SCENARIO_KEYWORD|K 1\n\nREQ_TOP_LINE|u|ignored");
  ASSERT_EQ(out.status, 0) << out.err;
  const RunConfig &c = run().config;
  EXPECT_EQ(std::string(c.script_type) + "|" + c.http_header + to_string(c.http_header_len) + "|" +
                c.req_top_line + to_string(c.req_top_line_len) + "|" + c.scenario_keyword,
            "Legacy|A: 1\r\nB: 2\r\n12|t\nu\n4|K 1\n");
  for (size_t length : {102400u, 102401u}) {
    std::string value(length - strlen("HTTP_HEADER|"), 'v');
    ASSERT_EQ(read("HTTP_HEADER|" + value + "\n").status, 0);
    EXPECT_EQ(run().config.http_header_len,
              static_cast<int32_t>(value.size() + 2 - (length > 102400)));
  }
}

// CR LF refuses a file before its lines act (more: e2e config_file_text); so does one unreadable.
TEST_F(Config, RefusedFiles) {
  const std::string crlf = "-1read_config_file_new:Configuration file FILE has Windows line ends";
  for (auto [text, line] : {std::pair{"SCRIPT_TYPE|Legacy\n# note\r\n", "2"},
                            {"SCRIPT_TYPE|Legacy\n\nNUM_VVM|2\r", "3"}}) {
    const std::string err = read(text).text();  // before the fresh run is read
    EXPECT_EQ(err + run().config.script_type,
              crlf + " (CR LF, first at line " + line +
                  "); convert it first, e.g. with: sed -i 's/\\r$//' 'FILE'\nC");
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

// A refused line ends the reading: the next sets nothing. (Whole texts: end-to-end safety_numbers.)
TEST_F(Config, RefusedLines) {
  const struct {
    std::string line, says;
  } cases[] = {
      {"SCRIPT_NAME|",
       "\nread_config_file_new:SCRIPT_NAME at line 2 of the configuration has no value.\n"},
      {"NUM_PROCESSES|", "NUM_PROCESSES at line 2 of the configuration has no value."},
      {"MSG_COUNT_PER_FILE|abc", "Invalid value for MSG_COUNT_PER_FILE, It should be greater"},
      {"MSG_COUNT_PER_FILE|-5", "is -5; it must be greater than 0."},
      {"MSG_COUNT_PER_FILE|115292150460684698", "is 115292150460684698; at most 1152921504606846"},
      {"NUM_VVM|0", "is 0; it must be between 1 and 256."},
      {"NUM_VVM|257", "NUM_VVM at line 2 of the configuration is 257; it must be between"},
      {"SCRIPT_TYPE|\x1b[2J\t\x7f",
       "Invalid script type \\x1b[2J\\t\\x7f. It should be Legacy or C"},
      {"SCRIPT_TYPE|c", "Invalid script type c."},
      // Read whole: no wrap-around, no trailing text; beyond 64 bits the milliseconds stop there.
      {"NEW_USER_TIME|-4294967", " gives -4294967000 milliseconds; it must be between 0 and"},
      {"NEW_USER_TIME|9223372036854775807:0", " (9223372036854775807 milliseconds); it must"},
      {"NEW_USER_TIME|-9223372036854775807:0", " gives -9223372036854775808 milliseconds;"},
      {"SUITE_COMMAND_TIME_LIMIT|0", "is '0'; it must be a whole number of seconds between 1 and"},
      {"SUITE_COMMAND_TIME_LIMIT|604801", "is '604801'; it must be"},
      {"SUITE_COMMAND_TIME_LIMIT|10m", "is '10m'; it must be"},
      {"HTTP_VERSION|1234567890", "is 10 characters long; at most 9 are allowed."},
      {"SCRIPT_NAME|a/b/" + std::string(9996, 'c'), "is 10000 characters long; at most 9999 are"},
      {"HOST_HEADER|" + std::string(9994, 'h'), "is 9994 characters long; at most 9993 are"},
      // Names leading out of the project tree (more: end-to-end safety_names_contained).
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
  };
  for (const auto &c : cases) {
    Outcome out = read("# first line\n" + c.line + "\nSCRIPT_NAME|p/s/x\n");
    EXPECT_EQ(out.status, -1) << c.line;
    EXPECT_NE(("\n" + out.err).find(c.says), std::string::npos) << c.line << "\n" << out.err;
    EXPECT_STREQ(run().config.script_name, "") << c.line;
  }
}

// One service too many, at its line. (The table made whole first: growing takes ASan minutes.)
TEST_F(Config, OneServiceTooMany) {
  std::string services;
  for (int i = 0; i <= 32767; i++)
    services += "SERVICE_NAME|S" + to_string(i) + "|POST|http://h/" + to_string(i) + "\n";
  Outcome out = read(services, [](RunState &run) {
    run.services.max_services = kMaxServices + 1;
    run.services.service_map_ptr =
        static_cast<ServiceMap *>(calloc(kMaxServices + 1, sizeof(ServiceMap)));
  });
  EXPECT_EQ(out.text(),
            "-1set_service:SERVICE_NAME at line 32768 of the configuration is one service too "
            "many; at most 32767 services are allowed.\n");
}

namespace fs = std::filesystem;
using Names = std::set<std::string>;
const fs::perms kOpen = fs::perms::all | fs::perms::sticky_bit;

// Every path under the working directory, links marked "@".
Names tree() {
  Names names;
  for (const auto &e : fs::recursive_directory_iterator("."))
    names.insert(e.path().string().substr(2) + (e.is_symlink() ? "@" : ""));
  return names;
}

// dir set on a fresh run (-f when force), then completed; with no descriptor to spare when no_fd.
Outcome replay_dir(const char *dir, int force, bool then_complete = false, bool no_fd = false) {
  RunState run;
  run.options.run_forcefully = force;
  return run_to_end([&](Failure *e) {
    struct rlimit old;
    getrlimit(RLIMIT_NOFILE, &old);
    int next = dup(0);  // the lowest free descriptor: the limit
    close(next);
    struct rlimit none = {static_cast<rlim_t>(next), old.rlim_max};
    if (no_fd) setrlimit(RLIMIT_NOFILE, &none);
    bool ok = set_replay_dir(run, dir, e) && (!then_complete || complete_replay_dir(run, e));
    setrlimit(RLIMIT_NOFILE, &old);
    return ok;
  });
}

// A fresh working directory each, where a command a shell wrongly ran would leave a file.
class ReplayDir : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(mkdtemp(base_), nullptr);
    old_cwd_ = fs::current_path();
    fs::current_path(base_);
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    fs::remove_all(base_);
  }
  char base_[40] = "/tmp/vt_replay_dir_test_XXXXXX";
  fs::path old_cwd_;
};

// Made writable by all and sticky; under -f an existing one goes once the configuration is read.
TEST_F(ReplayDir, MadeOrMadeAnewUnderForce) {
  ASSERT_EQ(replay_dir("a/replay", 0).status, 0);
  EXPECT_EQ(fs::status("a/replay").permissions(), kOpen);
  write_text("a/replay/old", "");
  RunState run;
  run.options.run_forcefully = 1;
  Failure e;
  ASSERT_TRUE(set_replay_dir(run, "a/replay", &e));
  EXPECT_EQ(tree(), (Names{"a", "a/replay", "a/replay/old"}));
  ASSERT_TRUE(complete_replay_dir(run, &e));
  EXPECT_EQ(tree(), (Names{"a", "a/replay"}));
  EXPECT_EQ(fs::status("a/replay").permissions(), kOpen);
}

// One removed by another process between finding it and looking at it is made by the run.
TEST_F(ReplayDir, DirectoryRemovedMeanwhileIsMadeAnew) {
  ASSERT_EQ(mkdir("gone", 0755), 0);
  vanish_after_mkdir = "gone";
  ASSERT_EQ(replay_dir("gone", 0).status, 0);
  EXPECT_EQ(vanish_after_mkdir, "");
  EXPECT_EQ(fs::status("gone").permissions(), kOpen);
}

// Refused, touching nothing: a path under a file, a link to none or to a directory, one another run
// holds; one not opened for want of a descriptor is named with that cause, not as existing.
TEST_F(ReplayDir, RefusedDirectoriesAreLeftAlone) {
  write_text("./plain", "");
  write_text("old/vt_req_0", "");
  ASSERT_EQ(symlink("nowhere", "dangling") | symlink("old", "to_dir") | mkdir("locked", 0777), 0);
  int other = open("locked", O_RDONLY | O_DIRECTORY);  // another run's lock
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  const std::string busy =
      "-1set_replay_dir:Replay directory locked/ is in use by another run (process " +
      std::to_string(getpid()) + "); left alone.\n";
  const std::string exists = "-1set_replay_dir:Replay directory old already exists.\n\n";
  const std::string no_fd = " cannot be opened: Too many open files\n";
  const struct {
    const char *dir;
    int force;
    bool no_descriptor;
    std::string says;
  } cases[] = {
      {"plain", 1, false, ":system(create_cmd) failed : Error in creating Replay dir 'plain'\n\n"},
      {"plain/x/sub", 1, false, ":Error in creating Replay dir 'plain/x/sub': Not a directory\n\n"},
      {"dangling", 0, false, "Error in creating Replay dir 'dangling'"},
      {"to_dir", 0, false, "-1set_replay_dir:Replay directory to_dir already exists.\n\n"},
      {"locked/", 1, false, busy},
      {"old", 0, true, exists},
      {"old", 1, true, "-1set_replay_dir:Replay directory old" + no_fd},
      {"new", 0, true, "-1create_dir:Replay directory new" + no_fd},
  };
  const Names before = tree();
  for (const auto &c : cases) {
    Outcome out = replay_dir(c.dir, c.force, false, c.no_descriptor);
    EXPECT_NE(out.text().find(c.says), std::string::npos) << c.dir << c.force << out.text();
    EXPECT_EQ(out.status, -1);
    rmdir("new");  // made, then not opened
    EXPECT_EQ(tree(), before) << c.dir << c.force;
  }
  close(other);
}

// Under -f a removal not started, failed or not allowed ends the run and removes nothing.
TEST_F(ReplayDir, FailedRemovalRemovesNothing) {
  write_text("a/replay/old", "");
  write_text("bin/rm", "#!/bin/sh\nexit 1\n");
  ASSERT_EQ(chmod("bin/rm", 0700) | mkdir("ro", 0755) | symlink("nowhere", "ro/link"), 0);
  ASSERT_EQ(chmod(".", 0755) | chmod("ro", 0555), 0);
  const std::string path = getenv("PATH"),
                    failing_rm = fs::current_path().string() + "/bin:" + path;
  const struct {
    const char *dir;
    int spawns;  // that go through before one fails, or -1
    const std::string &path;
    bool as_other;
    std::string err;
  } cases[] = {
      {"a/replay", 0, path, false,
       "-1delete_dir:Error in deleting dir 'a/replay': Resource temporarily unavailable\n"},
      {"a/replay", -1, failing_rm, false,
       "-1delete_dir:system(delete_cmd) failed : Error in deleting dir 'a/replay'\n"},
      {"ro/link", -1, path, geteuid() == 0,
       "-1delete_dir:Error in deleting dir 'ro/link': Permission denied\n"},
  };
  const Names before = tree();
  for (const auto &c : cases) {
    RunState run;
    run.options.run_forcefully = 1;
    Failure e;
    ASSERT_TRUE(set_replay_dir(run, c.dir, &e)) << c.dir;
    setenv("PATH", c.path.c_str(), 1);
    vt_fail_spawn_after(c.spawns);
    ASSERT_EQ(c.as_other ? seteuid(65534) : 0, 0);
    Outcome out = run_to_end([&](Failure *e) { return complete_replay_dir(run, e); });
    ASSERT_EQ(c.as_other ? seteuid(0) : 0, 0);
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(out.text(), c.err);
    EXPECT_EQ(tree(), before) << c.dir;
  }
  chmod("ro", 0755);
}

TEST_F(ReplayDir, ShellCharactersReachNoShell) {
  for (std::string name :
       {"r a;touch x1;$(touch x2)`touch x3`'q\"|touch x4&&touch x5", "-rf", "*"}) {
    for (const char *dir : {"r", "a", name.c_str()}) mkdir(dir, 0755);
    write_text(name + "/old", "");
    EXPECT_EQ(replay_dir(name.c_str(), 1, true).text(), "0") << name;
    EXPECT_EQ(tree(), (Names{"r", "a", name})) << name;
    for (const char *dir : {"r", "a", name.c_str()}) EXPECT_EQ(rmdir(dir), 0) << dir;
  }
}

TEST_F(ReplayDir, CoveringPaths) {
  EXPECT_TRUE(path_covers("/", "/anything"));
  EXPECT_TRUE(path_covers("/a/b", "/a/b"));
  EXPECT_TRUE(path_covers("/a/b", "/a/b/c"));
  EXPECT_FALSE(path_covers("/a/b", "/a/bc"));
  EXPECT_FALSE(path_covers("/a/b/c", "/a/b"));
  EXPECT_EQ(without_trailing_slashes("link//"), "link");
  EXPECT_EQ(without_trailing_slashes("/"), "/");
}

}  // namespace
