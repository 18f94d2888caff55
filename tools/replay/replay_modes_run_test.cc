// vt_replay in its load modes against the scripted server on 127.0.0.1:
// requests, users (connections) and each run user's first planned time, the
// arrival rate under --rate and the order it keeps, and the merge of runs in
// different modes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "tools/replay/replay_test_server.h"
#include "tools/replay/replay_test_support.h"

namespace {

// Each run user's first planned time (ms), from a CSV results file.
std::multiset<double> first_planned(const std::string &path) {
  std::ifstream in(path);
  std::string line;
  std::map<std::string, double> first;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    double planned = atof(line.c_str());
    std::string user = line.substr(line.rfind(',') + 1);
    if (!first.count(user) || planned < first[user]) first[user] = planned;
  }
  std::multiset<double> out;
  for (const auto &[user, at] : first) out.insert(at);
  return out;
}

TEST(ReplayModesRun, LoopsAndCopiesAreNewUsersAtTheirTimes) {
  TestDir d;
  // Sessions of 400 ms and 200 ms: a pass lasts 400 ms.
  write_test_package(d.path, 2,
                     {{1, 0, {{0, 1}, {200, 1}, {400, 1}}}, {2, 1, {{50, 1}, {250, 1}}}});
  struct Case {
    std::vector<std::string> args;
    int times;  // each request and each user played
    const char *mode;
    std::multiset<double> firsts;  // each run user's first planned ms; empty: not checked
  } cases[] = {
      {{"--loop", "3"}, 3, "loop x3", {0, 50, 400, 450, 800, 850}},
      {{"--users", "x4"}, 4, "users x4", {0, 50, 100, 100, 150, 200, 200, 300}},
      {{"--loop", "2", "--loop-gap", "0.1", "--users", "x2"},
       4,
       "loop x2, gap 0.1 s, users x2",
       {0, 50, 150, 200, 500, 550, 650, 700}},
      {{"--loop", "2", "--users", "x2", "--speed", "1:4@1s", "--threads", "2"},
       4,
       "loop x2, users x2, speed 1x to 4x over 1 s",
       {}},
  };
  std::vector<std::string> reports;
  for (const Case &c : cases) {
    ScriptedServer server;
    std::string results = d.path + "/r" + std::to_string(reports.size()) + ".csv";
    reports.push_back(d.path + "/r" + std::to_string(reports.size()) + ".json");
    std::vector<std::string> args = {
        d.path,    "--target",    "127.0.0.1:" + std::to_string(server.port),
        "--quiet", "--results",   results,
        "--json",  reports.back()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome o = run_program(args);
    std::string n = std::to_string(5 * c.times);
    EXPECT_EQ(o.status, 0) << c.mode << o.err;
    EXPECT_NE(o.out.find("  mode         " + std::string(c.mode) + "\n"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("planned " + n + ", sent " + n + ", completed " + n), std::string::npos)
        << o.out;
    std::ifstream json(reports.back());
    std::string report((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
    EXPECT_NE(report.find("{\"worker\": 0, \"users\": " + std::to_string(c.times) + ","),
              std::string::npos)
        << report;
    EXPECT_EQ(server.received().size(), 5u * c.times) << c.mode;
    EXPECT_EQ(server.connections, 2 * c.times + 1) << c.mode;  // and the probe's
    std::multiset<double> firsts = first_planned(results);
    EXPECT_EQ(firsts.size(), 2u * c.times) << c.mode;
    if (!c.firsts.empty()) {
      EXPECT_EQ(firsts, c.firsts) << c.mode;
    }
  }
  Outcome merged = run_program({"merge", reports[0], reports[1]});
  EXPECT_EQ(merged.status, 1);
  EXPECT_NE(merged.err.find("(loop x3) and " + reports[1] +
                            " (users x4) are reports of runs in different modes"),
            std::string::npos)
      << merged.err;
}

TEST(ReplayModesRun, RateHoldsWithinOnePercentOverTenSecondsInPackageOrder) {
  TestDir d;
  // Four users of 25 requests, their times interleaved; users 1 and 2 at the same
  // times, and a pass's last request (user 4's) where the next pass's first are.
  std::vector<TestUser> users;
  std::vector<std::pair<int, uint64_t>> order;  // (time, user) of every request
  for (uint64_t u = 1; u <= 4; u++) {
    users.push_back({u, 0, {}});
    for (int i = 0; i < 25; i++) {
      users.back().requests.push_back({static_cast<uint64_t>(40 * i + 7 * (u > 2 ? u - 2 : 0)), 1});
      order.push_back({40 * i + 7 * (u > 2 ? u - 2 : 0), u});
    }
  }
  std::sort(order.begin(), order.end());
  write_test_package(d.path, 1, users);
  ScriptedServer server;
  std::string results = d.path + "/r.csv";
  Outcome o = run_program({d.path, "--target", "127.0.0.1:" + std::to_string(server.port),
                           "--quiet", "--rate", "200/s", "--loop", "20", "--results", results});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("  mode         loop x20, rate 200/s\n"), std::string::npos) << o.out;
  std::vector<Received> got = server.received();
  ASSERT_EQ(got.size(), 2000u);
  auto [first, last] =
      std::minmax_element(got.begin(), got.end(),
                          [](const Received &a, const Received &b) { return a.at_ns < b.at_ns; });
  EXPECT_NEAR(1999 / ((last->at_ns - first->at_ns) / 1e9), 200, 2) << o.out;
  EXPECT_EQ(server.connections, 4 * 20 + 1);
  // Slot by slot (5 ms apart), the users of the requests in the package's order, pass by pass.
  std::ifstream in(results);
  std::string line;
  std::vector<std::pair<double, uint64_t>> slots;
  for (std::getline(in, line); std::getline(in, line);)
    slots.push_back(
        {atof(line.c_str()), strtoull(line.substr(line.rfind(',') + 1).c_str(), 0, 10)});
  std::sort(slots.begin(), slots.end());
  ASSERT_EQ(slots.size(), 2000u);
  for (size_t i = 0; i < slots.size(); i++) {
    EXPECT_DOUBLE_EQ(slots[i].first, 5.0 * i);
    ASSERT_EQ(slots[i].second, order[i % 100].second + i / 100 * 1000000000) << "slot " << i;
  }
}

}  // namespace
