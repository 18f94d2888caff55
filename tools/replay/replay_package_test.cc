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
  TestUser a{7, 0, {{0, 2, "<a/>"}, {1500, 0, "<bb/>"}}};
  TestUser b{1234567890, 1, {{250, 1, "<c/>"}}};
  TestUser c{9, 0, {{3000, 3, ""}}};
  return {a, b, c};
}

TEST(ReplayPackage, ReadsUsersAndWalksTheirGroupsInOrder) {
  TestDir d;
  write_test_package(d.path, 2, two_workers());
  ReplayPackage p;
  std::string error;
  ASSERT_TRUE(open_replay_package(d.path, {}, &p, &error)) << error;
  EXPECT_EQ(p.workers_in_package, 2);
  ASSERT_EQ(p.workers.size(), 2u);
  ASSERT_EQ(p.users.size(), 3u);
  EXPECT_EQ(p.requests, 4u);
  EXPECT_EQ(p.first_time_ms, 0u);
  EXPECT_EQ(p.last_time_ms, 3000u);
  EXPECT_EQ(p.users[0].user_id, 7u);
  EXPECT_EQ(p.users[2].user_id, 1234567890u);
  ReplayUser u = p.users[0];
  ReplayGroup g;
  ASSERT_TRUE(next_replay_group(p, &u, &g, &error));
  EXPECT_EQ(g.time_ms, 0u);
  EXPECT_EQ(g.page_id, 2);
  EXPECT_EQ(g.offset, 0u);
  ASSERT_TRUE(next_replay_group(p, &u, &g, &error));
  EXPECT_EQ(g.time_ms, 1500u);
  EXPECT_EQ(g.offset, test_entry_request({0, 2, "<a/>"}).size() + 1);
  EXPECT_FALSE(next_replay_group(p, &u, &g, &error));  // the user has no third request
  close_replay_package(&p);

  ASSERT_TRUE(open_replay_package(d.path, {1}, &p, &error)) << error;
  ASSERT_EQ(p.users.size(), 1u);
  EXPECT_EQ(p.first_time_ms, 250u);
  EXPECT_EQ(p.base_ms, 250u);
  close_replay_package(&p);

  // Shards take every N-th of the selected workers, from the I-th.
  TestDir five;
  std::vector<TestUser> users;
  for (int w = 0; w < 5; w++) users.push_back({static_cast<uint64_t>(w + 1), w, {{0, 0, "<x/>"}}});
  write_test_package(five.path, 5, users);
  struct Case {
    std::vector<int> selected;
    ReplayShard shard;
    std::vector<int> workers;  // empty: refused
  };
  const Case cases[] = {
      {{}, {0, 1}, {0, 1, 2, 3, 4}},
      {{}, {1, 2}, {1, 3}},
      {{}, {4, 5}, {4}},
      {{1, 2, 4}, {0, 2}, {1, 4}},
      {{1, 2, 4}, {1, 2}, {2}},
      {{1, 2, 4}, {2, 3}, {4}},
      {{3}, {1, 2}, {}},
      {{}, {5, 6}, {}},
  };
  for (const Case &c : cases) {
    bool ok = open_replay_package(five.path, c.selected, &p, &error, c.shard);
    std::vector<int> got;
    for (const ReplayWorker &w : p.workers) got.push_back(w.number);
    if (c.workers.empty()) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error.rfind("--shard " + std::to_string(c.shard.index) + "/" +
                                std::to_string(c.shard.count) + ": no worker falls to this shard",
                            0),
                0u)
          << error;
    } else {
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(got, c.workers) << c.shard.index << "/" << c.shard.count;
    }
    close_replay_package(&p);
  }
}

// Opening a package and closing it, or failing to open it, gives back every
// descriptor and byte it took, and closes no descriptor it did not open (the
// last package's second worker has a directory for its index file, so its
// request file never opened). The byte count is the allocator's; under the
// address sanitizer its leak check does this part.
TEST(ReplayPackage, OpenedClosedOrRefusedItLeavesNothingBehind) {
  TestDir good, broken, unopened;
  for (const std::string &dir : {good.path, broken.path, unopened.path})
    write_test_package(dir, 2, two_workers());
  std::ofstream(broken.path + "/vt_index_1", std::ios::app) << "not a user line\n";
  ASSERT_EQ(unlink((unopened.path + "/vt_index_1").c_str()), 0);
  ASSERT_EQ(mkdir((unopened.path + "/vt_index_1").c_str(), 0700), 0);
  if (fcntl(0, F_GETFD) < 0) {
    ASSERT_EQ(open("/dev/null", O_RDONLY), 0);
  }
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

TEST(ReplayPackage, GroupsWithACreationTimestampAndNegativePages) {
  ReplayGroup g;
  std::string s = ",10,-1,20,30|1:120:13,5";
  EXPECT_EQ(parse_replay_group(s.data(), s.size(), &g), s.size() - 2);
  EXPECT_EQ(g.page_id, -1);
  EXPECT_EQ(g.size, 30u);
  for (std::string bad : {",10,1,20", ",10,1,20,x", ",10,1,20,30|1:5", "10,1,20,30", ",10,1,20,30x",
                          ",99999999999999999999999,1,2,3"})
    EXPECT_EQ(parse_replay_group(bad.data(), bad.size(), &g), 0u) << bad;
}

// Numbers written with many leading zeros are the same numbers when the
// index is checked and when each group is read again to be sent.
TEST(ReplayPackage, ReadsGroupsWithLeadingZerosAlike) {
  TestDir d;
  write_test_package(d.path, 1, {{7, 0, {{0, 0, "<a/>"}, {1500, 0, "<bb/>"}}}});
  std::string entry = test_entry_request({0, 0, "<a/>"}) + "\n";
  std::string second = test_entry_request({1500, 0, "<bb/>"}) + "\n";
  std::string zeros(200, '0');
  std::ofstream(d.path + "/vt_index_0", std::ios::binary)
      << "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, "
         "size, ...\n"
      << "000000007,vt_req_0," << zeros << "0,0," << zeros << "0," << entry.size() << ",1500,"
      << zeros << "0," << zeros << entry.size() << "," << zeros << second.size() << "\n";
  ReplayPackage p;
  std::string error;
  ASSERT_TRUE(open_replay_package(d.path, {}, &p, &error)) << error;
  ReplayUser u = p.users[0];
  ReplayGroup g;
  ASSERT_TRUE(next_replay_group(p, &u, &g, &error)) << error;
  EXPECT_EQ(g.size, entry.size());
  ASSERT_TRUE(next_replay_group(p, &u, &g, &error)) << error;
  EXPECT_EQ(g.time_ms, 1500u);
  EXPECT_EQ(g.offset, entry.size());
  EXPECT_EQ(g.size, second.size());
  close_replay_package(&p);
}

// An index that changes after the package was checked is refused when a
// group is read to be sent: a group longer than any the file held, one that
// starts or ends outside the request file, or a file cut short.
TEST(ReplayPackage, AnIndexChangedWhileReplayedIsRefused) {
  const std::string header =
      "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, "
      "size, ...\n";
  const std::string user = "000000007,vt_req_0";
  const std::string entry = test_entry_request({0, 0, "<a/>"}) + "\n";
  const std::string size = std::to_string(entry.size());
  for (const std::string &changed :
       {user + ",0" + std::string(40, '0') + ",0,0," + size + "\n",
        user + ",0,0,999999," + size + "\n", user + ",0,0,1," + size + "\n", std::string()}) {
    TestDir d;
    write_test_package(d.path, 1, {{7, 0, {{0, 0, "<a/>"}}}});
    ReplayPackage p;
    std::string error;
    ASSERT_TRUE(open_replay_package(d.path, {}, &p, &error)) << error;
    std::ofstream(d.path + "/vt_index_0", std::ios::binary) << header << changed;
    ReplayUser u = p.users[0];
    ReplayGroup g;
    EXPECT_FALSE(next_replay_group(p, &u, &g, &error)) << changed;
    EXPECT_EQ(error, d.path + "/vt_index_0 changed while it was replayed") << changed;
    close_replay_package(&p);
  }
}

// Each broken package is refused with a message that says what and where.
TEST(ReplayPackage, RefusesBrokenPackagesSayingWhy) {
  struct Case {
    const char *name;
    std::string index0;  // replaces vt_index_0 when not empty
    std::vector<int> workers;
    const char *expected;
  };
  const std::string header =
      "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, "
      "size, ...\n";
  const std::vector<Case> cases = {
      {"header", "#user_id\n000000001,vt_req_0,0,0,0,10\n", {}, "line 1: not the header line"},
      {"group", header + "000000001,vt_req_0,0,0,0\n", {}, "line 2 group 1: unreadable"},
      {"order",
       header + "000000001,vt_req_0,50,0,0,10,40,0,10,10\n",
       {},
       "group 2: time goes back"},
      {"outside", header + "000000001,vt_req_0,0,0,0,999999\n", {}, "entry outside vt_req_0"},
      {"file", header + "000000001,vt_req_1,0,0,0,10\n", {}, "not on vt_req_0"},
      {"longer file", header + "1,vt_req_01,0,0,0,10\n", {}, "not on vt_req_0"},
      {"cut", header + "000000001,vt_req_0,0,0,0,10", {}, "ends in the middle of a line"},
      {"empty", header, {}, "hold no request"},
      {"huge offset",
       header + "000000001,vt_req_0,0,0,99999999999999999999,10\n",
       {},
       "line 2 group 1: a number is too large (above 18446744073709551615)"},
      {"huge user",
       header + "99999999999999999999,vt_req_0,0,0,0,10\n",
       {},
       "line 2: the user id is too large"},
      {"worker", "", {0, 5}, "names worker 5, but the package has workers 0 to 1"},
  };
  for (const Case &c : cases) {
    TestDir d;
    write_test_package(d.path, 2, two_workers());
    if (!c.index0.empty()) {
      std::ofstream(d.path + "/vt_index_0", std::ios::binary) << c.index0;
      if (c.index0 == header) std::ofstream(d.path + "/vt_index_1", std::ios::binary) << header;
    }
    ReplayPackage p;
    std::string error;
    EXPECT_FALSE(open_replay_package(d.path, c.workers, &p, &error)) << c.name;
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << ": " << error;
    close_replay_package(&p);
  }
  TestDir d;
  ReplayPackage p;
  std::string error;
  EXPECT_FALSE(open_replay_package(d.path + "/none", {}, &p, &error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  // An index of no bytes, not even its header line.
  write_test_package(d.path, 2, two_workers());
  std::ofstream(d.path + "/vt_index_1", std::ios::trunc);
  EXPECT_FALSE(open_replay_package(d.path, {}, &p, &error));
  EXPECT_EQ(error, d.path + "/vt_index_1 is empty");
  close_replay_package(&p);
  // An empty directory: ReplayProgram.BadInputEndsWithOneClearLine.
}

// With descriptors short, a worker's files are refused in the order they are
// opened, each by its name: the index, the requests, then the index's copy
// that its lines are read through.
TEST(ReplayPackage, DescriptorsShortNameTheFileRefused) {
  TestDir d;
  write_test_package(d.path, 1, {{7, 0, {{0, 2, "<a/>"}}}});
  const char *expected[] = {"cannot open " /* vt_index_0 */, "cannot open ", "cannot read "};
  const char *file[] = {"/vt_index_0: ", "/vt_req_0: ", "/vt_index_0: "};
  for (int allowed = 0; allowed < 3; allowed++) {
    // The three lowest free descriptors; a limit at the k-th leaves k of them.
    int free_fd[3];
    for (int &fd : free_fd) fd = open("/dev/null", O_RDONLY);
    for (int fd : free_fd) close(fd);
    rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old_limit), 0);
    rlimit lowered = old_limit;
    lowered.rlim_cur = static_cast<rlim_t>(free_fd[allowed]);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    ReplayPackage p;
    std::string error;
    bool ok = open_replay_package(d.path, {}, &p, &error);
    setrlimit(RLIMIT_NOFILE, &old_limit);
    EXPECT_FALSE(ok) << allowed;
    EXPECT_EQ(error, expected[allowed] + d.path + file[allowed] + "Too many open files") << allowed;
    close_replay_package(&p);
  }
}

}  // namespace
