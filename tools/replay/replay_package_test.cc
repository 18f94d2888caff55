#include "tools/replay/replay_package.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "base/core/open_descriptors_test_support.h"
#include "tools/replay/replay_test_support.h"

namespace {

std::vector<TestUser> two_workers() {
  return {{7, 0, {{0, 2, "<a/>"}, {1500, 0, "<bb/>"}}},
          {1234567890, 1, {{250, 1, "<c/>"}}},
          {9, 0, {{3000, 3, ""}}}};
}

std::vector<int> numbers(const ReplayPackage &p) {
  std::vector<int> got;
  for (const ReplayWorker &w : p.workers) got.push_back(w.number);
  return got;
}

// Users in index order walk their groups; a shard takes every N-th selected worker from the I-th.
TEST(ReplayPackage, ReadsUsersAndWalksTheirGroupsInOrder) {
  TestDir d, five;
  write_test_package(d.path, 2, two_workers());
  ReplayPackage p;
  std::string error;
  ASSERT_TRUE(open_replay_package(d.path, {}, &p, &error)) << error;
  ASSERT_EQ(p.users.size(), 3u);
  EXPECT_EQ(std::make_tuple(p.requests, p.first_time_ms, p.last_time_ms, p.users[2].user_id),
            std::make_tuple(4ul, 0ul, 3000ul, 1234567890ul));
  ReplayUser u = p.users[0];
  ReplayGroup g;
  ASSERT_TRUE(next_replay_group(p, &u, &g, &error));
  EXPECT_EQ(std::make_tuple(g.time_ms, g.page_id, g.offset), std::make_tuple(0ul, 2l, 0ul));
  ASSERT_TRUE(next_replay_group(p, &u, &g, &error));
  EXPECT_EQ(g.offset, test_entry_request({0, 2, "<a/>"}).size() + 1);
  EXPECT_FALSE(next_replay_group(p, &u, &g, &error));  // the user has no third request
  ASSERT_TRUE(open_replay_package(d.path, {1}, &p, &error)) << error;
  EXPECT_EQ(std::make_tuple(p.users.size(), p.base_ms), std::make_tuple(1ul, 250ul));
  std::vector<TestUser> users;
  for (int w = 0; w < 5; w++) users.push_back({static_cast<uint64_t>(w + 1), w, {{0, 0, "<x/>"}}});
  write_test_package(five.path, 5, users);
  struct Case {
    std::vector<int> selected;
    ReplayShard shard;
    std::vector<int> workers;  // empty: refused
  } cases[] = {
      {{}, {0, 1}, {0, 1, 2, 3, 4}}, {{}, {1, 2}, {1, 3}},     {{1, 2, 4}, {0, 2}, {1, 4}},
      {{1, 2, 4}, {1, 2}, {2}},      {{1, 2, 4}, {2, 3}, {4}}, {{3}, {1, 2}, {}},
  };
  for (const Case &c : cases) {
    std::string shard = std::to_string(c.shard.index) + "/" + std::to_string(c.shard.count);
    EXPECT_EQ(open_replay_package(five.path, c.selected, &p, &error, c.shard), !c.workers.empty());
    if (c.workers.empty())
      EXPECT_EQ(error.rfind("--shard " + shard + ": no worker falls to this shard", 0), 0u)
          << error;
    else
      EXPECT_EQ(numbers(p), c.workers) << shard;
  }
  close_replay_package(&p);
}

// Opened and closed, or refused, a package gives back every descriptor and byte it took.
TEST(ReplayPackage, OpenedClosedOrRefusedItLeavesNothingBehind) {
  TestDir good, broken, unopened;
  for (const std::string &dir : {good.path, broken.path, unopened.path})
    write_test_package(dir, 2, two_workers());
  std::ofstream(broken.path + "/vt_index_1", std::ios::app) << "not a user line\n";
  ASSERT_EQ(unlink((unopened.path + "/vt_index_1").c_str()), 0);
  ASSERT_EQ(mkdir((unopened.path + "/vt_index_1").c_str(), 0700), 0);
  ASSERT_TRUE(fcntl(0, F_GETFD) >= 0 || open("/dev/null", O_RDONLY) == 0);  // 0 is taken
  auto open_and_close = [&] {
    for (const std::string &dir : {good.path, broken.path, unopened.path}) {
      ReplayPackage p;
      std::string error;
      EXPECT_EQ(open_replay_package(dir, {}, &p, &error), dir == good.path) << error;
      close_replay_package(&p);
    }
  };
  open_and_close();  // what the library makes once stays
  long descriptors = vt_open_descriptors();
  struct mallinfo2 before = mallinfo2();
  for (int i = 0; i < 200; i++) open_and_close();
  struct mallinfo2 after = mallinfo2();
  EXPECT_EQ(vt_open_descriptors(), descriptors);
  EXPECT_NE(fcntl(0, F_GETFD), -1);
  EXPECT_LT(after.uordblks + after.hblkhd, before.uordblks + before.hblkhd + 8192);
}

// A group is read again as checked, leading zeros and all; an index changed since is refused.
TEST(ReplayPackage, GroupsAreSentAsCheckedOrRefused) {
  const std::string zeros(200, '0'), user = "000000007,vt_req_0";
  const std::string entry = test_entry_request({0, 0, "<a/>"}) + "\n",
                    n = std::to_string(entry.size());
  for (const std::string &changed :
       {",0" + zeros + zeros + zeros + zeros + ",0,0," + n, ",0,0,999999," + n, ",0,0,1," + n,
        std::string("\n"), std::string()}) {
    TestDir d;
    write_test_package(d.path, 1, {{7, 0, {{0, 0, "<a/>"}}}});
    std::ofstream(d.path + "/vt_index_0", std::ios::binary)
        << kIndexHeader << user << "," << zeros << "5,0," << zeros << "0," << zeros << n << "\n";
    ReplayPackage p;
    std::string error;
    ASSERT_TRUE(open_replay_package(d.path, {}, &p, &error)) << error;
    ReplayUser u = p.users[0];
    ReplayGroup g;
    if (changed == "\n") {
      ASSERT_TRUE(next_replay_group(p, &u, &g, &error)) << error;
      EXPECT_EQ(std::make_tuple(g.time_ms, g.size), std::make_tuple(5ul, entry.size()));
      continue;
    }
    std::ofstream(d.path + "/vt_index_0", std::ios::binary)
        << kIndexHeader << (changed.empty() ? "" : user + changed + "\n");
    EXPECT_FALSE(next_replay_group(p, &u, &g, &error)) << changed;
    EXPECT_EQ(error, d.path + "/vt_index_0 changed while it was replayed") << changed;
    close_replay_package(&p);
  }
}

// A broken package is refused saying what and where (the index lines' faults: IndexFormat).
TEST(ReplayPackage, RefusesBrokenPackagesSayingWhy) {
  const std::string user = kIndexHeader + std::string("000000001,vt_req_0,");
  struct Case {
    std::string index0;  // replaces vt_index_0 when not empty
    std::vector<int> workers;
    std::string expected;  // after the directory
  } cases[] = {
      {user + "0,0,0,1\n", {}, "/vt_index_0 line 2 group 1: entry outside vt_req_0"},
      {kIndexHeader, {}, " hold no request"},
      {"", {0, 5}, ": --workers names worker 5, but the package has workers 0 to 1"},
      {"", {}, "/none: No such file or directory"},
  };
  for (const Case &c : cases) {
    TestDir d;
    write_test_package(d.path, 2, two_workers());
    if (!c.index0.empty()) {
      std::ofstream(d.path + "/vt_index_0", std::ios::binary) << c.index0;
      std::ofstream(d.path + "/vt_index_1", std::ios::binary) << kIndexHeader;
    }
    ReplayPackage p;
    std::string error, dir = d.path + (c.expected.rfind("/none", 0) == 0 ? "/none" : "");
    EXPECT_FALSE(open_replay_package(dir, c.workers, &p, &error));
    if (c.expected[0] == ':') error = ": " + error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    close_replay_package(&p);
  }
}

// With descriptors short, the files are refused in the order opened, each by its name.
TEST(ReplayPackage, DescriptorsShortNameTheFileRefused) {
  TestDir d;
  write_test_package(d.path, 1, {{7, 0, {{0, 2, "<a/>"}}}});
  const char *file[] = {"", ": cannot list", "/vt_req_0"};
  for (int allowed = 0; allowed < 3; allowed++) {
    int free_fd[3];  // the three lowest free descriptors; a limit at the k-th leaves k
    for (int &fd : free_fd) fd = open("/dev/null", O_RDONLY);
    for (int fd : free_fd) close(fd);
    rlimit old_limit, lowered;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old_limit), 0);
    lowered = old_limit;
    lowered.rlim_cur = static_cast<rlim_t>(free_fd[allowed]);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    ReplayPackage p;
    std::string error;
    bool ok = open_replay_package(d.path, {}, &p, &error);
    setrlimit(RLIMIT_NOFILE, &old_limit);
    EXPECT_FALSE(ok) << allowed;
    EXPECT_EQ(error, d.path + file[allowed] + ": Too many open files") << allowed;
    close_replay_package(&p);
  }
}

}  // namespace
