#include "tools/replay_gen/config/replay_dir.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "base/core/failing_fork_test_support.h"
#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config/replay_lock.h"
#include "tools/replay_gen/test_support.h"

// Armed with a path, the next mkdir of it that finds it there removes it, as
// another process could in that moment, and still reports it was there.
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

// The replay directory dir set on a fresh run (-f when force), then completed;
// with no descriptor to spare when no_fd.
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

// Each test runs in a fresh working directory, so that a command the shell
// wrongly ran would leave a file there.
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

// Made writable by all and sticky: nobody deletes or replaces another's
// files. Under -f an existing one goes once the whole configuration is known
// and is made anew; a run that ended holds no lock on it.
TEST_F(ReplayDir, MadeOrMadeAnewUnderForce) {
  ASSERT_EQ(replay_dir("a/replay", 0).status, 0);
  EXPECT_EQ(fs::status("a/replay").permissions(), kOpen);
  write_text("a/replay/old", "");
  RunState run;
  run.options.run_forcefully = 1;
  Failure e;
  ASSERT_TRUE(set_replay_dir(run, "a/replay", &e));
  EXPECT_STREQ(run.config.replay_dir, "a/replay");
  EXPECT_EQ(tree(), (Names{"a", "a/replay", "a/replay/old"}));
  ASSERT_TRUE(complete_replay_dir(run, &e));
  EXPECT_EQ(tree(), (Names{"a", "a/replay"}));
  EXPECT_EQ(fs::status("a/replay").permissions(), kOpen);
}

// A directory removed by another process between this run's finding it and
// looking at it is looked for again, and made by the run.
TEST_F(ReplayDir, DirectoryRemovedMeanwhileIsMadeAnew) {
  ASSERT_EQ(mkdir("gone", 0755), 0);
  vanish_after_mkdir = "gone";
  ASSERT_EQ(replay_dir("gone", 0).status, 0);
  EXPECT_EQ(vanish_after_mkdir, "");
  EXPECT_EQ(fs::status("gone").permissions(), kOpen);
}

// What is refused touches nothing: a path under a file (named with that
// cause, though a parent failed too), a link to no directory, a link to a
// directory or one that exists without -f, one another run holds (naming
// its process) with or without -f. One that cannot be opened, for want of a
// descriptor, is named with that cause: neither taken for one replaced under
// the run nor, with -f, for one that exists.
TEST_F(ReplayDir, RefusedDirectoriesAreLeftAlone) {
  write_text("./plain", "");
  write_text("old/vt_req_0", "");
  ASSERT_EQ(symlink("nowhere", "dangling") | symlink("old", "to_dir") | mkdir("locked", 0777), 0);
  int other = open("locked", O_RDONLY | O_DIRECTORY);  // another run's lock
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  const std::string busy =
      "-1set_replay_dir:Replay directory locked/ is in use by another run "
      "(process " +
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
      {"old", 0, false, exists},
      {"locked/", 0, false, busy},
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

// Under -f a removal that cannot be started, that fails (an rm that says
// no) or that is not allowed (a link in a directory read-only to the user;
// root takes another user's rights for it) ends the run and removes nothing.
TEST_F(ReplayDir, FailedRemovalRemovesNothing) {
  write_text("a/replay/old", "");
  write_text("bin/rm", "#!/bin/sh\nexit 1\n");
  ASSERT_EQ(chmod("bin/rm", 0700) | mkdir("ro", 0755) | symlink("nowhere", "ro/link"), 0);
  ASSERT_EQ(chmod(".", 0755) | chmod("ro", 0555), 0);
  const std::string path = getenv("PATH"),
                    failing_rm = fs::current_path().string() + "/bin:" + path;
  const struct {
    const char *dir;
    int forks;  // that go through before one fails, or -1
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
    vt_fail_fork_after(c.forks);
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
    // Neighbours that a split or expanded path would remove.
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
