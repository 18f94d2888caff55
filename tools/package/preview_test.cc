#include "tools/package/preview.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/core/golden_file_test_support.h"
#include "tools/replay_gen/run_state.h"

namespace {

TEST(PreviewWarnings, OnWhatTheToolSilentlyAccepts) {
  struct Case {
    const char *line;
    const char *warning;  // "" for none
  } cases[] = {
      {"NUM_VMM|4", "line 1: NUM_VMM: did you mean NUM_VVM? (the tool ignores the line)"},
      {" SCRIPT_TYPE|C", "line 1:  SCRIPT_TYPE: did you mean SCRIPT_TYPE?"},
      {"num_vvm|4", "line 1: num_vvm: did you mean NUM_VVM?"},
      {"COMPLETELY_DIFFERENT|1", "line 1: COMPLETELY_DIFFERENT is no keyword; the tool ignores"},
      {"REPLAY_PERIOD|31/01/2020 10:20:30|NA",
       "line 1: REPLAY_PERIOD start 31/01/2020 10:20:30 looks like day/month; the month comes "
       "first, so it is read as 07/01/2022 10:20:30"},
      {"REPLAY_PERIOD|01/02/2020 10:00:00|13/02/2020 10:00:00", "line 1: REPLAY_PERIOD end"},
      {"NEW_USER_TIME|10min",
       "line 1: NEW_USER_TIME 10min is not a duration (s, m:s, h:m:s or h:m:s.ms); the tool "
       "reads it as 10000 ms"},
      {"NEW_USER_TIME|10:00.5", "reads it as 600000 ms"},
      {"NEW_USER_TIME|1:2:3:4", "reads it as 3723000 ms"},
      {"NEW_USER_TIME|:30", "reads it as 60000 ms"},
      {"NEW_USER_TIME|1:00:00.500", ""},
      {"REPLAY_PERIOD|12/01/2026 00:00:00|12/03/2026 01:27:28", ""},
      {"# NUM_VMM|4", ""},
      {"|||", ""},
      {"INPUT_DIR|/logs|20201201", ""},
  };
  setenv("TZ", "UTC", 1);
  for (const Case &c : cases) {
    std::vector<std::string> w = config_text_warnings({c.line});
    ASSERT_EQ(w.size(), c.warning[0] ? 1u : 0u) << c.line;
    if (c.warning[0]) {
      EXPECT_NE(w[0].find(c.warning), std::string::npos) << w[0];
    }
  }
  // Lines are numbered from 1, comments and empty lines included.
  std::vector<std::string> w = config_text_warnings({"# c", "", "NUM_VMM|2"});
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].rfind("line 3: ", 0), 0u);
}

// As the tool's pipeline counts: lines that begin with "processor", each
// once however long.
TEST(PreviewCpuCount, ProcessorLinesOfAnyLength) {
  const std::string piece(4095, 'x');
  struct Case {
    std::string text;
    int count;
  } cases[] = {
      {"", 0},
      {"processor\t: 0\nmodel name\t: processor\nprocessor\t: 1\n", 2},
      {" processor\nProcessor\nproc\n", 0},
      {"processor\t: 0\n" + piece + "processor\t: 1\n", 1},
      {"processor " + piece.substr(10) + "processor\n", 1},
      {piece.substr(1) + "\nprocessor", 1},
  };
  for (const Case &c : cases) {
    FILE *fp = c.text.empty() ? fopen("/dev/null", "r")
                              : fmemopen(const_cast<char *>(c.text.data()), c.text.size(), "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(count_processor_lines(fp), c.count) << c.text.substr(0, 40);
    fclose(fp);
  }
}

struct LateProblems : ::testing::Test {
  std::string dir;
  std::string saved_path = getenv("PATH") ? getenv("PATH") : "";
  void SetUp() override {
    char tmpl[] = "/tmp/vt_preview_test.XXXXXX";
    dir = mkdtemp(tmpl);
    run = RunState{};
    snprintf(run.config.replay_dir, sizeof run.config.replay_dir, "%s/replay", dir.c_str());
    snprintf(run.config.scenario_name, sizeof run.config.scenario_name, "p/s/x.conf");
    snprintf(run.config.script_name, sizeof run.config.script_name, "p/s/script");
    mkdir((dir + "/bin").c_str(), 0755);
    for (const char *c : {"vtu_gen_cscript", "vti_get_page", "vtu_change_page_name"}) {
      std::string path = dir + "/bin/" + c;
      FILE *fp = fopen(path.c_str(), "w");
      fclose(fp);
      chmod(path.c_str(), 0755);
    }
    setenv("PATH", (dir + "/bin").c_str(), 1);
    mkdir((dir + "/wdir").c_str(), 0755);
    setenv("VT_WDIR", (dir + "/wdir").c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", saved_path.c_str(), 1);
    unsetenv("VT_WDIR");
    run = RunState{};
    ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  void make_dirs(const std::string &path) { std::filesystem::create_directories(dir + "/" + path); }
};

TEST_F(LateProblems, EachConditionTheRunMeetsAtItsEnd) {
  std::string wdir = dir + "/wdir";
  EXPECT_EQ(late_run_problems(false), std::vector<std::string>{"scenario directory " + wdir +
                                                               "/scenarios/p/s does not exist"});
  make_dirs("wdir/scenarios/p/s");
  EXPECT_TRUE(late_run_problems(false).empty());

  make_dirs("wdir/scripts/p/s/script");
  make_dirs("replay");
  fclose(fopen((wdir + "/scenarios/p/s/x.conf").c_str(), "w"));
  const std::string there = " already exists (the run replaces it only with -f)";
  EXPECT_EQ(late_run_problems(false),
            (std::vector<std::string>{"Replay directory " + dir + "/replay" + there,
                                      "scenario " + wdir + "/scenarios/p/s/x.conf" + there,
                                      "script " + wdir + "/scripts/p/s/script" + there}));
  EXPECT_TRUE(late_run_problems(true).empty());

  // Under -f a replay directory inside VT_WDIR, or a link given as one
  // inside the input base, is one the run would refuse to delete.
  snprintf(run.config.input_dir, sizeof run.config.input_dir, "INPUT_DIR|%s/logs|x", dir.c_str());
  make_dirs("logs");
  for (const char *inside : {"wdir/scripts/p/", "logs/link"}) {
    if (strcmp(inside, "logs/link") == 0) symlink(dir.c_str(), (dir + "/logs/link").c_str());
    snprintf(run.config.replay_dir, sizeof run.config.replay_dir, "%s/%s", dir.c_str(), inside);
    EXPECT_EQ(late_run_problems(true),
              std::vector<std::string>{
                  "Replay directory " + dir + "/" + inside + " lies inside " +
                  (inside[0] == 'w' ? "VT_WDIR " + wdir : "the input directory " + dir + "/logs") +
                  " (the run refuses to delete it under -f)"})
        << inside;
    // Without -f nothing is deleted: it is only there already.
    for (const std::string &problem : late_run_problems(false))
      EXPECT_EQ(problem.find("refuses to delete"), std::string::npos) << problem;
  }

  snprintf(run.config.replay_dir, sizeof run.config.replay_dir, "%s/replay", dir.c_str());
  unsetenv("VT_WDIR");
  std::vector<std::string> found = late_run_problems(true);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].rfind("VT_WDIR is not set", 0), 0u);
}

TEST_F(LateProblems, SuiteCommandsMissingFromPath) {
  make_dirs("wdir/scenarios/p/s");
  // An empty entry of PATH, between two or at an end, is the current
  // directory.
  std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir + "/bin");
  for (const char *path : {"/none:", ":/none", "/none::/none"}) {
    setenv("PATH", path, 1);
    EXPECT_TRUE(late_run_problems(false).empty()) << path;
  }
  // The missing ones in one problem, which names both ways out.
  auto missing = [](const char *names) {
    return std::vector<std::string>{std::string(names) +
                                    " not on PATH: install the suite's commands, or their "
                                    "stand-ins (the Debian package vortan-replay-gen-standins, "
                                    "which make deb builds)"};
  };
  std::filesystem::current_path(dir);
  EXPECT_EQ(late_run_problems(false),
            missing("suite commands vtu_gen_cscript, vti_get_page and vtu_change_page_name are"));
  std::filesystem::current_path(cwd);
  setenv("PATH", (dir + "/bin").c_str(), 1);
  ASSERT_EQ(unlink((dir + "/bin/vti_get_page").c_str()), 0);
  EXPECT_EQ(late_run_problems(false), missing("suite command vti_get_page is"));
  // A Legacy script needs the other generator.
  snprintf(run.config.script_type, sizeof run.config.script_type, "Legacy");
  EXPECT_EQ(late_run_problems(false),
            missing("suite commands vtu_gen_script and vti_get_page are"));
  // Not executable is not there.
  chmod((dir + "/bin/vtu_change_page_name").c_str(), 0644);
  snprintf(run.config.script_type, sizeof run.config.script_type, "C");
  EXPECT_EQ(late_run_problems(false),
            missing("suite commands vti_get_page and vtu_change_page_name are"));
}

// The report of a run that would succeed and of one that would fail, as
// text and as JSON, byte for byte.
TEST(PreviewReport, ReportsAreAsKept) {
  PreviewReport ok;
  ok.config = "/kept/replay.conf";
  ok.input_files = {{"/kept/logs/20261201/extracts/SOAP.log.1", 123456, 700},
                    {"/kept/logs/20261201/extracts/SOAP.log.2", 0, 0}};
  ok.loaded = true;
  ok.records = 700;
  ok.accepted = 650;
  ok.package = true;
  ok.replay_dir = "/kept/out/replay";
  ProfileBuilder b;
  profile_begin(&b, 2, 1000);
  for (uint64_t i = 0; i < 650; i++) {
    ASSERT_TRUE(profile_add_request(&b, static_cast<int>(i % 2), static_cast<int>(i % 3), i * 1500,
                                    700 + i % 90, 600 + i % 90));
    if (i % 5 == 0) profile_add_user(&b, static_cast<int>(i % 2), i * 1500, i * 1500 + 6000);
  }
  profile_finish(&b, &ok.profile);
  ok.profile.rejected_by_code = {{102, 50}};
  ok.warnings = {"line 5: NUM_VMM: did you mean NUM_VVM? (the tool ignores the line)"};
  PreviewReport failing;
  failing.config = "/kept/bad \"name\".conf";
  failing.input_files = {{"/kept/unreadable", -1, 0}};
  failing.problems = {"input file /kept/unreadable cannot be read: the run would stop in Step 2",
                      "suite command vtu_change_page_name is not on PATH"};
  // One that read its records but would make no package counts its rejected
  // records, by code; one that found no input file shows no list of them.
  PreviewReport loaded = failing;
  loaded.input_files.clear();
  loaded.loaded = true;
  loaded.records = 9, loaded.accepted = 4;
  loaded.profile.rejected_by_code = {{101, 3}, {104, 2}};
  const std::string dir = VT_PACKAGE_TESTDATA;
  expect_as_kept(format_preview_text(ok) + "\n" + format_preview_text(failing) + "\n" +
                     format_preview_text(loaded),
                 dir + "/preview.txt");
  expect_as_kept(format_preview_json(ok) + "\n" + format_preview_json(failing),
                 dir + "/preview.json");
}

}  // namespace
