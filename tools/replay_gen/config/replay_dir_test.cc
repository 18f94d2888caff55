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
#include "tools/replay_gen/records.h"

namespace {

// Each test works in a fresh directory, which is also the working directory,
// so that any command the shell wrongly ran would leave a file here.
class ReplayDir : public testing::Test {
 protected:
  void SetUp() override {
    reset_config_state();
    char name[] = "/tmp/vt_replay_dir_test_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    base_ = name;
    ASSERT_NE(getcwd(old_cwd_, sizeof(old_cwd_)), nullptr);
    ASSERT_EQ(chdir(base_.c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(old_cwd_), 0);
    std::string cmd = "rm -rf '" + base_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
    reset_config_state();
  }

  static std::set<std::string> entries(const std::string &dir) {
    std::set<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent *e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
    return names;
  }

  static void touch(const std::string &path) { fclose(fopen(path.c_str(), "w")); }

  std::string base_;
  char old_cwd_[4096];
};

TEST_F(ReplayDir, CreatedEmptyWithOpenPermissions) {
  std::string dir = base_ + "/a/replay";
  Outcome out = run_to_end([&] { set_replay_dir(dir.c_str()); });
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_STREQ(replay_dir, dir.c_str());
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0777u);
}

TEST_F(ReplayDir, ExistingNeedsForce) {
  mkdir("replay", 0755);
  touch("replay/old");
  Outcome out = run_to_end([] { set_replay_dir("replay"); });
  EXPECT_EQ(out.status, -1);
  EXPECT_EQ(out.err, "set_replay_dir:Replay directory replay already exists.\n\n");
  EXPECT_EQ(entries("replay"), std::set<std::string>{"old"});

  run_forcefully = 1;
  out = run_to_end([] { set_replay_dir("replay"); });
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_TRUE(entries("replay").empty());
  EXPECT_EQ(entries("."), std::set<std::string>{"replay"});
}

TEST_F(ReplayDir, ShellCharactersReachNoShell) {
  const std::string names[] = {
      "r a;touch ran1;$(touch ran2)`touch ran3`'q\"x|touch ran4&&touch ran5",
      "-rf",
      "*",
  };
  run_forcefully = 1;
  for (const std::string &name : names) {
    // Neighbours that a split or expanded path would remove.
    mkdir("r", 0755);
    mkdir("a", 0755);
    mkdir(name.c_str(), 0755);
    touch(name + "/old");
    Outcome out = run_to_end([&] { set_replay_dir(name.c_str()); });
    EXPECT_EQ(out.status, 0) << name << out.err;
    EXPECT_EQ(entries("."), (std::set<std::string>{"r", "a", name})) << name;
    EXPECT_TRUE(entries(name).empty()) << name;
    for (const std::string &dir : {name, std::string("r"), std::string("a")})
      EXPECT_EQ(rmdir(dir.c_str()), 0) << dir;
  }
}

TEST_F(ReplayDir, PlainFileInTheWay) {
  touch("replay");
  Outcome out = run_to_end([] { set_replay_dir("replay"); });
  EXPECT_EQ(out.status, -1);
  EXPECT_NE(out.err.find("create_dir:system(create_cmd) failed : Error in creating Replay dir "
                         "'replay'\n\n"),
            std::string::npos)
      << out.err;
}

TEST_F(ReplayDir, CreatedBeforeTheFinalCheck) {
  std::string conf = base_ + "/x.conf";
  FILE *fp = fopen(conf.c_str(), "w");
  fprintf(fp, "REPLAY_DIR|%s/replay\nSCENARIO_NAME|p/s/x.conf\n", base_.c_str());
  fclose(fp);
  Outcome out = run_to_end([&] {
    read_config_file_new(conf.c_str());
    validate_config_file_data();
  });
  EXPECT_EQ(out.status, -1);
  EXPECT_EQ(out.err,
            "validate_config_file_data:Replay,Script and Scenario path must be defined in config "
            "file, Exiting...\n");
  EXPECT_EQ(entries(base_), (std::set<std::string>{"x.conf", "replay"}));
}

}  // namespace
