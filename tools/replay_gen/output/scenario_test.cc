#include "tools/replay_gen/output/scenario.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/core/failing_fork_test_support.h"
#include "base/core/failing_io_test_support.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

class ScenarioTest : public testing::Test {
 protected:
  void SetUp() override {
    wdir_ = make_temp_dir();
    std::filesystem::create_directories(wdir_ + "/scenarios/proj/sub");
    setenv("VT_WDIR", wdir_.c_str(), 1);
    snprintf(run.config.scenario_name, sizeof run.config.scenario_name, "proj/sub/it's here.conf");
    snprintf(run.config.script_name, sizeof run.config.script_name, "P/S/Orders");
    snprintf(run.config.host_name, sizeof run.config.host_name, "10.0.0.5:8080");
    snprintf(run.config.replay_dir, sizeof run.config.replay_dir, "/data/replay");
    run.workers.num_vvm = 4;
  }
  void TearDown() override {
    unsetenv("VT_WDIR");
    std::filesystem::remove_all(wdir_);
  }
  std::string path() const { return wdir_ + "/scenarios/" + run.config.scenario_name; }
  // Runs create_scenario; its standard output goes to out_.
  Outcome create() {
    testing::internal::CaptureStdout();
    Outcome o = run_to_end([&](Failure *e) { return create_scenario(run, e); });
    out_ = testing::internal::GetCapturedStdout();
    return o;
  }
  std::string wdir_, out_;
  RunState run;
};

// The content with the keywords in place (all of it: the end-to-end cases'
// scenario files), readable and writable by all the mask allows as the
// suite's own files; an existing scenario is replaced only with -f, by a
// removal that must succeed (an rm that says no, or cannot be started, ends
// the run and writes nothing).
TEST_F(ScenarioTest, ContentWithKeywordsAndReplacedOnlyWithForce) {
  std::string keywords = "G_KA_PCT ALL 100\nG_SSL ALL 0\n";
  auto set_keywords = [&](const std::string &k) {
    run.config.scenario_keyword = k.empty() ? nullptr : strdup(k.c_str());
    run.config.scenario_keyword_len = static_cast<int32_t>(k.size());
  };
  set_keywords(keywords);
  mode_t mask = umask(002);
  ASSERT_EQ(create().status, 0);
  umask(mask);
  const std::string first = read_text(path());
  EXPECT_NE(first.find("\n#PAGE_AS_TRANSACTION 1\n" + keywords + "\nNUM_VVM 4 MACHINE\n"),
            std::string::npos)
      << first;
  struct stat st;
  ASSERT_EQ(stat(path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0664);

  free(run.config.scenario_keyword);
  set_keywords("");
  EXPECT_EQ(create().err,
            "create_scenario:Error: Scenario '" + path() + "' already exist! Exiting ...\n");
  EXPECT_EQ(read_text(path()), first);
  run.options.run_forcefully = 1;
  ASSERT_EQ(create().status, 0);
  const std::string second = read_text(path());
  EXPECT_EQ(second.find(keywords), std::string::npos);

  std::filesystem::create_directories(wdir_ + "/bin");
  write_text(wdir_ + "/bin/rm", "#!/bin/sh\nexit 1\n");
  std::filesystem::permissions(wdir_ + "/bin/rm", std::filesystem::perms::owner_all);
  std::string old_path = getenv("PATH");
  setenv("PATH", (wdir_ + "/bin:" + old_path).c_str(), 1);
  set_keywords(keywords);
  const std::string deleting = "Error in deleting existing scenario file '" + path() + "'";
  for (bool fork_fails : {false, true}) {
    vt_fail_fork_after(fork_fails ? 0 : -1);
    EXPECT_EQ(create().text(), fork_fails
                                   ? "-1create_scenario:Fork/exec failed:" + deleting +
                                         ":Resource temporarily unavailable\n"
                                   : "-1create_scenario:system(cmd) failed:" + deleting + "\n");
    EXPECT_EQ(out_, "");
    EXPECT_EQ(read_text(path()), second);
  }
  vt_fail_fork_after(-1);
  setenv("PATH", old_path.c_str(), 1);
}

// A scenario that cannot be written whole (a close that reports an error;
// the file size limit standing for a full disk, the captured message must
// fit under it), a missing VT_WDIR or scenario directory end the run.
TEST_F(ScenarioTest, WhatCannotBeMadeOrWrittenFailsTheRun) {
  const std::string writing = "-1create_scenario:Error in writing scenario '" + path() + "': ";
  vt_fail_close_of(path().c_str(), EIO, 1);  // a late write error
  EXPECT_EQ(create().text(), writing + "Input/output error\n");
  vt_fail_close_of("", 0, 0);
  unlink(path().c_str());
  EXPECT_EQ(
      run_with_file_size_limit(200, [&](Failure *e) { return create_scenario(run, e); }).text(),
      writing + "File too large\n");
  unsetenv("VT_WDIR");
  EXPECT_EQ(create().text(), "-1create_scenario:Error in getting the VT_WDIR\n");
  setenv("VT_WDIR", wdir_.c_str(), 1);
  snprintf(run.config.scenario_name, sizeof run.config.scenario_name, "proj/missing/a.conf");
  EXPECT_EQ(create().text(), "-1create_scenario:Fopen():can not open scenario '" + path() +
                                 "' file:No such file or directory !\n");
}

}  // namespace
