#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config/config_test_reset.h"

namespace {

using Names = std::set<std::string>;

// Each test runs in a fresh working directory, so that a command the shell
// wrongly ran would leave a file there.
class ReplayDir : public testing::Test {
 protected:
  void SetUp() override {
    reset_config_state();
    ASSERT_NE(mkdtemp(base_), nullptr);
    ASSERT_NE(getcwd(old_cwd_, sizeof(old_cwd_)), nullptr);
    ASSERT_EQ(chdir(base_), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(old_cwd_), 0);
    EXPECT_EQ(system(("rm -rf " + std::string(base_)).c_str()), 0);
    reset_config_state();
  }
  static Names entries(const std::string &dir) {
    Names names;
    DIR *d = opendir(dir.c_str());
    while (dirent *e = d ? readdir(d) : nullptr)
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.insert(e->d_name);
    if (d) closedir(d);
    return names;
  }
  static void touch(const std::string &path) { fclose(fopen(path.c_str(), "w")); }

  char base_[40] = "/tmp/vt_replay_dir_test_XXXXXX";
  char old_cwd_[4096];
};

TEST_F(ReplayDir, CreatedOrRefusedOrRecreated) {
  Outcome out = run_to_end([] { set_replay_dir("a/replay"); });
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_STREQ(replay_dir, "a/replay");
  struct stat st;
  ASSERT_EQ(stat("a/replay", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0777u);

  touch("a/replay/old");
  out = run_to_end([] { set_replay_dir("a/replay"); });
  EXPECT_EQ(out.status, -1);
  EXPECT_EQ(out.err, "set_replay_dir:Replay directory a/replay already exists.\n\n");
  EXPECT_EQ(entries("a/replay"), Names{"old"});

  run_forcefully = 1;
  EXPECT_EQ(run_to_end([] { set_replay_dir("a/replay"); }).status, 0);
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
  run_forcefully = 1;
  for (std::string name :
       {"r a;touch x1;$(touch x2)`touch x3`'q\"|touch x4&&touch x5", "-rf", "*"}) {
    // Neighbours that a split or expanded path would remove.
    for (const char *dir : {"r", "a", name.c_str()}) mkdir(dir, 0755);
    touch(name + "/old");
    Outcome out = run_to_end([&] { set_replay_dir(name.c_str()); });
    EXPECT_EQ(out.status, 0) << name << out.err;
    EXPECT_EQ(entries("."), (Names{"r", "a", name})) << name;
    EXPECT_EQ(entries(name), Names{}) << name;
    for (const char *dir : {"r", "a", name.c_str()}) EXPECT_EQ(rmdir(dir), 0) << dir;
  }
}

}  // namespace
