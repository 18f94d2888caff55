#include "tools/replay_gen/config/replay_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "tools/replay_gen/config/config_test_reset.h"
#include "tools/replay_gen/config/replay_lock.h"
#include "tools/replay_gen/run_state.h"

namespace {

using Names = std::set<std::string>;

Names entries(const std::string &dir) {
  Names names;
  for (const auto &e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename());
  return names;
}
void touch(const std::string &path) {
  fclose(fopen(path.c_str(), "w"));
}

// Each test runs in a fresh working directory, so that a command the shell
// wrongly ran would leave a file there.
class ReplayDir : public testing::Test {
 protected:
  void SetUp() override {
    reset_config_state();
    ASSERT_NE(mkdtemp(base_), nullptr);
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(base_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(base_);
    reset_config_state();
  }
  char base_[40] = "/tmp/vt_replay_dir_test_XXXXXX";
  std::filesystem::path old_cwd_;
};

TEST_F(ReplayDir, CreatedOrRefusedOrRecreated) {
  ASSERT_EQ(run_to_end([] { set_replay_dir("a/replay"); }).status, 0);
  EXPECT_STREQ(run.config.replay_dir, "a/replay");
  EXPECT_EQ(std::filesystem::status("a/replay").permissions(), std::filesystem::perms::all);
  touch("a/replay/old");
  Outcome out = run_to_end([] { set_replay_dir("a/replay"); });
  EXPECT_EQ(std::to_string(out.status) + out.err,
            "-1set_replay_dir:Replay directory a/replay already exists.\n\n");
  EXPECT_EQ(entries("a/replay"), Names{"old"});
  run.options.run_forcefully = 1;
  EXPECT_EQ(run_to_end([] { set_replay_dir("a/replay"); }).status, 0);
  // Under -f the old directory goes once the whole configuration is known.
  EXPECT_EQ(entries("a/replay"), Names{"old"});
  EXPECT_EQ(run_to_end(complete_replay_dir).status, 0);
  EXPECT_EQ(entries("a"), Names{"replay"});
  EXPECT_EQ(entries("a/replay"), Names{});
  touch("plain");
  out = run_to_end([] { set_replay_dir("plain"); });
  EXPECT_EQ(out.status, -1);
  EXPECT_NE(out.err.find("create_dir:system(create_cmd) failed : Error in creating Replay dir "
                         "'plain'\n\n"),
            std::string::npos)
      << out.err;
}

TEST_F(ReplayDir, ShellCharactersReachNoShell) {
  run.options.run_forcefully = 1;
  for (std::string name :
       {"r a;touch x1;$(touch x2)`touch x3`'q\"|touch x4&&touch x5", "-rf", "*"}) {
    // Neighbours that a split or expanded path would remove.
    for (const char *dir : {"r", "a", name.c_str()}) mkdir(dir, 0755);
    touch(name + "/old");
    Outcome out = run_to_end([&] {
      set_replay_dir(name.c_str());
      complete_replay_dir();
    });
    EXPECT_EQ(out.status, 0) << name << out.err;
    EXPECT_EQ(entries("."), (Names{"r", "a", name})) << name;
    EXPECT_EQ(entries(name), Names{}) << name;
    for (const char *dir : {"r", "a", name.c_str()}) EXPECT_EQ(rmdir(dir), 0) << dir;
  }
}

// A directory another run holds is refused, with or without -f, naming
// that run's process, and nothing in it is touched.
TEST_F(ReplayDir, LockedDirectoryIsLeftAlone) {
  ASSERT_EQ(run_to_end([] { set_replay_dir("replay"); }).status, 0);
  touch("replay/vt_req_0");
  release_replay_dir();
  int other = open("replay", O_RDONLY | O_DIRECTORY);  // another run's lock
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  const std::string want =
      "-1set_replay_dir:Replay directory replay/ is in use by another run "
      "(process " +
      std::to_string(getpid()) + "); left alone.\n";
  for (int force : {0, 1}) {
    run.options.run_forcefully = force;
    Outcome out = run_to_end([] { set_replay_dir("replay/"); });
    EXPECT_EQ(std::to_string(out.status) + out.err, want) << force;
    EXPECT_EQ(entries("replay"), Names{"vt_req_0"});
  }
  close(other);
  EXPECT_EQ(run_to_end([] { set_replay_dir("replay"); }).status, 0);
  EXPECT_EQ(run_to_end(complete_replay_dir).status, 0);
  EXPECT_EQ(entries("replay"), Names{});
}

// Under -f a directory that holds the input or VT_WDIR is refused before
// anything goes; a symbolic link is replaced as a link, its target kept.
TEST_F(ReplayDir, ForceDeletesOnlyWhatIsTheRunsOwn) {
  std::string top = std::filesystem::current_path().string() + "/top";
  std::filesystem::create_directories(top + "/logs/20240101");
  std::filesystem::create_directories(top + "/wdir/scripts");
  run.options.run_forcefully = 1;
  snprintf(run.config.input_dir, kTextBufSize, "INPUT_DIR|%s/logs/|20240101", top.c_str());
  Outcome out = run_to_end([] {
    set_replay_dir("top/");
    complete_replay_dir();
  });
  EXPECT_EQ(out.err, "set_replay_dir:Replay directory top/ holds the input directory " + top +
                         "/logs/; refusing to delete it (-f).\n");
  run.config.input_dir[0] = '\0';
  setenv("VT_WDIR", (top + "/wdir").c_str(), 1);
  out = run_to_end([] {
    set_replay_dir("top/wdir");
    complete_replay_dir();
  });
  unsetenv("VT_WDIR");
  EXPECT_EQ(out.err, "set_replay_dir:Replay directory top/wdir holds VT_WDIR " + top +
                         "/wdir; refusing to delete it (-f).\n");
  EXPECT_EQ(entries("top"), (Names{"logs", "wdir"}));
  EXPECT_EQ(entries("top/wdir"), Names{"scripts"});

  touch("top/logs/keep");
  ASSERT_EQ(symlink("top/logs", "link"), 0);
  run.options.run_forcefully = 0;
  out = run_to_end([] { set_replay_dir("link/"); });
  EXPECT_EQ(out.err, "set_replay_dir:Replay directory link/ already exists.\n\n");
  run.options.run_forcefully = 1;
  out = run_to_end([] {
    set_replay_dir("link/");
    complete_replay_dir();
  });
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::symlink_status("link")));
  EXPECT_EQ(entries("top/logs"), (Names{"20240101", "keep"}));
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

// Error log paths that would not fit are refused before anything is made.
TEST_F(ReplayDir, TooLongForErrorLogsRefusedFirst) {
  std::string part(123, 'd');
  std::string name = part + "/" + part + "/" + part + "/" + part + "/d";  // 497 characters
  run.options.g_num_thread = 0;  // automatic: room for the highest thread number allowed
  Outcome out = run_to_end([&] { set_replay_dir(name.c_str()); });
  EXPECT_EQ(out.status, -1);
  EXPECT_NE(out.err.find("Replay directory path too long for the error log files"),
            std::string::npos)
      << out.err;
  EXPECT_EQ(entries("."), Names{});
  run.options.g_num_thread = 1;
  EXPECT_EQ(run_to_end([&] { set_replay_dir(name.c_str()); }).status, 0);
  run.options.g_num_thread = 0;
}

}  // namespace
