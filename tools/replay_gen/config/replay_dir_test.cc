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
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

// Armed with a path, the next mkdir of it that finds it there removes it, as
// another process could in that moment, and still reports it was there.
std::string vanish_after_mkdir;

}  // namespace

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
    ASSERT_NE(mkdtemp(base_), nullptr);
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(base_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_cwd_);
    std::filesystem::remove_all(base_);
  }
  Outcome set(const char *dir) {
    return run_to_end([&](Failure *e) { return set_replay_dir(run, dir, e); });
  }
  Outcome complete() {
    return run_to_end([&](Failure *e) { return complete_replay_dir(run, e); });
  }
  char base_[40] = "/tmp/vt_replay_dir_test_XXXXXX";
  std::filesystem::path old_cwd_;
  RunState run;
};

TEST_F(ReplayDir, CreatedOrRefusedOrRecreated) {
  ASSERT_EQ(set("a/replay").status, 0);
  EXPECT_STREQ(run.config.replay_dir, "a/replay");
  // Writable by all, sticky: nobody deletes or replaces another's files.
  EXPECT_EQ(std::filesystem::status("a/replay").permissions(),
            std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
  touch("a/replay/old");
  // Refused without -f: the end-to-end case config_replay_dir_exists.
  run.options.run_forcefully = 1;
  EXPECT_EQ(set("a/replay").status, 0);
  // Under -f the old directory goes once the whole configuration is known.
  EXPECT_EQ(entries("a/replay"), Names{"old"});
  EXPECT_EQ(complete().status, 0);
  EXPECT_EQ(entries("a"), Names{"replay"});
  EXPECT_EQ(entries("a/replay"), Names{});
  // A removal that cannot be started, or that fails (an rm that says no),
  // ends the run and removes nothing.
  touch("a/replay/old");
  release_replay_dir(run);
  ASSERT_EQ(set("a/replay").status, 0);
  vt_fail_fork_after(0);
  Outcome out = complete();
  EXPECT_EQ(std::to_string(out.status) + out.err,
            "-1delete_dir:Error in deleting dir 'a/replay': Resource temporarily unavailable\n");
  EXPECT_EQ(entries("a/replay"), Names{"old"});
  ASSERT_EQ(mkdir("bin", 0700), 0);
  FILE *rm = fopen("bin/rm", "w");
  fputs("#!/bin/sh\nexit 1\n", rm);
  fclose(rm);
  ASSERT_EQ(chmod("bin/rm", 0700), 0);
  std::string old_path = getenv("PATH");
  setenv("PATH", (std::filesystem::current_path().string() + "/bin:" + old_path).c_str(), 1);
  release_replay_dir(run);
  ASSERT_EQ(set("a/replay").status, 0);
  out = complete();
  setenv("PATH", old_path.c_str(), 1);
  EXPECT_EQ(std::to_string(out.status) + out.err,
            "-1delete_dir:system(delete_cmd) failed : Error in deleting dir 'a/replay'\n");
  EXPECT_EQ(entries("a/replay"), Names{"old"});
  release_replay_dir(run);
  touch("plain");
  out = set("plain");
  EXPECT_EQ(out.status, -1);
  EXPECT_NE(out.err.find("create_dir:system(create_cmd) failed : Error in creating Replay dir "
                         "'plain'\n\n"),
            std::string::npos)
      << out.err;
  // A directory that cannot be made for another cause than a missing parent
  // is named with that cause, even where a parent failed too.
  out = set("plain/x/sub");
  EXPECT_EQ(std::to_string(out.status) + out.err,
            "-1create_dir:Error in creating Replay dir 'plain/x/sub': Not a directory\n\n");
  // Without -f a link to no directory is refused the same way, and stays.
  run.options.run_forcefully = 0;
  ASSERT_EQ(symlink("nowhere", "dangling"), 0);
  out = set("dangling");
  EXPECT_EQ(out.status, -1);
  EXPECT_NE(out.err.find("Error in creating Replay dir 'dangling'"), std::string::npos) << out.err;
  EXPECT_TRUE(std::filesystem::is_symlink("dangling"));
  // and a link to a directory is a directory that exists, and stays.
  ASSERT_EQ(symlink("a/replay", "to_dir"), 0);
  out = set("to_dir");
  EXPECT_EQ(std::to_string(out.status) + out.err,
            "-1set_replay_dir:Replay directory to_dir already exists.\n\n");
  EXPECT_TRUE(std::filesystem::is_symlink("to_dir"));
  EXPECT_EQ(entries("a/replay"), Names{"old"});
  // With -f a link that cannot be removed (its directory is read-only to
  // the user; root takes another user's rights for it) ends the run, and
  // stays.
  release_replay_dir(run);
  run.options.run_forcefully = 1;
  ASSERT_EQ(mkdir("ro", 0755), 0);
  ASSERT_EQ(symlink("nowhere", "ro/link"), 0);
  ASSERT_EQ(chmod(".", 0755), 0);
  ASSERT_EQ(chmod("ro", 0555), 0);
  ASSERT_EQ(set("ro/link").status, 0);
  bool as_other = geteuid() == 0;
  if (as_other) {
    ASSERT_EQ(seteuid(65534), 0);
  }
  out = complete();
  if (as_other) {
    ASSERT_EQ(seteuid(0), 0);
  }
  EXPECT_EQ(std::to_string(out.status) + out.err,
            "-1delete_dir:Error in deleting dir 'ro/link': Permission denied\n");
  EXPECT_TRUE(std::filesystem::is_symlink("ro/link"));
  chmod("ro", 0755);
}

// A directory removed by another process between this run's finding it and
// looking at it is looked for again, and made by the run.
TEST_F(ReplayDir, DirectoryRemovedMeanwhileIsMadeAnew) {
  ASSERT_EQ(mkdir("gone", 0755), 0);
  vanish_after_mkdir = "gone";
  ASSERT_EQ(set("gone").status, 0);
  EXPECT_EQ(vanish_after_mkdir, "");
  EXPECT_EQ(std::filesystem::status("gone").permissions(),
            std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
}

// A directory that cannot be opened, here for want of a descriptor, is named
// with that cause: neither taken for one replaced under the run nor, with
// -f, for one that exists.
TEST_F(ReplayDir, DirectoryThatCannotBeOpenedIsNamedWithTheCause) {
  ASSERT_EQ(mkdir("old", 0777), 0);
  struct Case {
    const char *dir;
    int force;
    const char *outcome;
  } cases[] = {
      {"old", 0, "-1set_replay_dir:Replay directory old already exists.\n\n"},
      {"old", 1, "-1set_replay_dir:Replay directory old cannot be opened: Too many open files\n"},
      {"new", 0, "-1create_dir:Replay directory new cannot be opened: Too many open files\n"},
  };
  for (const Case &c : cases) {
    RunState fresh;
    fresh.options.run_forcefully = c.force;
    Outcome out = run_to_end([&](Failure *e) {
      struct rlimit old;
      getrlimit(RLIMIT_NOFILE, &old);
      int next = dup(0);  // the lowest free descriptor: the limit
      close(next);
      struct rlimit none = {static_cast<rlim_t>(next), old.rlim_max};
      setrlimit(RLIMIT_NOFILE, &none);
      bool ok = set_replay_dir(fresh, c.dir, e);
      setrlimit(RLIMIT_NOFILE, &old);
      return ok;
    });
    EXPECT_EQ(std::to_string(out.status) + out.err, c.outcome) << c.dir << c.force;
  }
}

TEST_F(ReplayDir, ShellCharactersReachNoShell) {
  run.options.run_forcefully = 1;
  for (std::string name :
       {"r a;touch x1;$(touch x2)`touch x3`'q\"|touch x4&&touch x5", "-rf", "*"}) {
    // Neighbours that a split or expanded path would remove.
    for (const char *dir : {"r", "a", name.c_str()}) mkdir(dir, 0755);
    touch(name + "/old");
    Outcome out = run_to_end([&](Failure *e) {
      return set_replay_dir(run, name.c_str(), e) && complete_replay_dir(run, e);
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
  {
    RunState first;  // a run that ended holds no lock
    Failure e;
    ASSERT_TRUE(set_replay_dir(first, "replay", &e));
  }
  touch("replay/vt_req_0");
  int other = open("replay", O_RDONLY | O_DIRECTORY);  // another run's lock
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  const std::string want =
      "-1set_replay_dir:Replay directory replay/ is in use by another run "
      "(process " +
      std::to_string(getpid()) + "); left alone.\n";
  for (int force : {0, 1}) {
    run.options.run_forcefully = force;
    Outcome out = set("replay/");
    EXPECT_EQ(std::to_string(out.status) + out.err, want) << force;
    EXPECT_EQ(entries("replay"), Names{"vt_req_0"});
  }
  close(other);
  EXPECT_EQ(set("replay").status, 0);
  EXPECT_EQ(complete().status, 0);
  EXPECT_EQ(entries("replay"), Names{});
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
