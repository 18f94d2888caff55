// The vt_replay program itself against the scripted server on 127.0.0.1, in every mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <set>

#include "base/core/utc_time.h"
#include "tools/replay/replay_test_server.h"
#include "tools/replay/replay_test_support.h"

namespace {

// SIGINT or SIGTERM mid-run: the answers in flight awaited, every report written; 130 or 143.
TEST(ReplayProgram, SigintAndSigtermEndTheRunWithEveryReport) {
  TestDir d;
  // d waits behind the silent answer: at the signal planned, not sent.
  write_test_package(d.path, 1,
                     {{1, 0, {{0, 0, "a"}, {100, 0, "b"}, {20000, 0, "c"}}},
                      {2, 0, {{0, 0, "silent"}, {100, 0, "d"}}}});
  ScriptedServer server;
  for (int signo : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signo);
    TestDir scratch;
    size_t before = server.received().size();
    std::string json = scratch.path + "/r.json", csv = scratch.path + "/r.csv";
    Outcome o = run_program(
        {d.path, "--target", server.target, "--json", json, "--results", csv, "--html",
         scratch.path + "/r.html", "--quiet", "--timeout", "500", "--max-latency", "p99=60s"},
        [&](pid_t pid) {  // once three requests are in, the next is 20 s away
          server.wait_until([&] { return server.got.size() >= before + 3; });
          usleep(50000);
          kill(pid, signo);
        });
    EXPECT_EQ(o.status, 128 + signo) << o.err;
    const std::string by = signo == SIGINT ? "interrupt" : "SIGTERM";
    std::string j = read_text(json), results = read_text(csv),
                page = read_text(scratch.path + "/r.html");
    for (const auto &[text, part] : std::vector<std::pair<const std::string *, std::string>>{
             {&o.out, "requests     planned 4, sent 3, completed 2, errors 1"},
             {&o.out, "threshold    max-latency p99=60s: measured "},
             {&j, "\"stopped_by\": \"" + by + "\""},
             {&results, ",timeout,false,"},
             {&page, "<tr><th>verdict</th><td>FAILED: 1 of 2 thresholds crossed</td></tr>"}})
      EXPECT_NE(text->find(part), std::string::npos) << part << " in " << *text;
    EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 1 + 3);  // the header, 3 ended
  }
  // A signal while it waits for --start-at (on a terminal): nothing sent or left; SIGHUP not taken.
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    TestDir scratch;
    size_t received = server.received().size();
    uint64_t at = static_cast<uint64_t>(time(nullptr)) + 60;
    Outcome waiting = run_program(
        {d.path, "--target", server.target, "--start-at", std::to_string(at), "--json",
         scratch.path + "/r.json"},
        [signo](pid_t pid) {
          usleep(500000);
          kill(pid, signo);
        },
        -1, 0, 200);
    const std::string by = signo == SIGINT ? "interrupted" : "SIGTERM";
    EXPECT_EQ(waiting.status, signo == SIGHUP ? -1 : 128 + signo) << waiting.err;
    EXPECT_NE(waiting.err.find(" s for --start-at " + vtlb_utc_text(at * 1000ull) + "\r\n"),
              std::string::npos)
        << waiting.err;
    EXPECT_EQ(waiting.err.substr(waiting.err.find('\n') + 1),
              signo == SIGHUP
                  ? ""
                  : "vt_replay: --start-at: " + by + " while waiting; nothing was sent\r\n");
    EXPECT_EQ(server.received().size(), received);
    EXPECT_TRUE(signo == SIGHUP || !std::ifstream(scratch.path + "/r.json").good());
  }
}

// The verdict against servers failing each way; without thresholds a failure fails the run.
TEST(ReplayProgram, VerdictsTellWhatHappened) {
  ScriptedServer server;
  struct Case {
    const char *what;
    std::vector<std::string> bodies;  // one user each, in turn on its connection
    std::vector<std::string> options;
    std::vector<std::string> lines;
    int status;
  };
  const std::vector<Case> cases = {
      {"no answers",
       {"silent", "silent"},
       {"--max-latency", "p99=200", "--max-latency", "max=1"},
       {"threshold    max-failed 0 (the default without --max-failed): measured 1.0000, CROSSED",
        "verdict      FAILED: 3 of 3 thresholds crossed"},
       3},
      {"all 4xx",
       {"status 400", "status 404"},
       {},
       {"failed       2 (status 400: 1; status 404: 1; errors 0)",
        "verdict      FAILED: no thresholds set: 2 of 2 failed, 100.0 %; without --max-failed a "
        "failed request fails the run",
        "!threshold "},  // the default alone is no threshold line
       3},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TestDir d;
    TestUser u{1, 0, {}};
    for (size_t i = 0; i < c.bodies.size(); i++) u.requests.push_back({i * 10, 0, c.bodies[i]});
    write_test_package(d.path, 1, {u});
    std::vector<std::string> args = {d.path,    "--target",  server.target,
                                     "--quiet", "--timeout", "300"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Outcome o = run_program(args);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    for (const std::string &line : c.lines)  // "!": a text the report must not hold
      EXPECT_EQ(o.out.find(line.substr(line[0] == '!')) == std::string::npos, line[0] == '!')
          << line << "\n" << o.out;
  }
}

// On a terminal, a progress line about once a second, cut to its width.
TEST(ReplayProgram, ProgressOnATerminal) {
  TestDir d;
  write_test_package(
      d.path, 1,
      {{1, 0, {{0, 0, "status 500"}, {500, 0, "silent"}, {1900, 0, "b"}, {2500, 0, "c"}}}});
  ScriptedServer server;
  std::vector<std::string> args = {
      d.path, "--target", server.target, "--timeout", "2000", "--connections-per-user", "2"};
  Outcome wide = run_program(args, nullptr, -1, 0, 200);
  EXPECT_EQ(wide.status, 3) << wide.err;  // the 500 failed it
  EXPECT_NE(wide.out.find("completed 3"), std::string::npos) << wide.out;
  // The share is of the time (2.5 s).
  size_t line = wide.err.find("\rvt_replay: 0:00:01 of 0:00:02 (4");
  ASSERT_NE(line, std::string::npos) << wide.err;
  EXPECT_EQ(wide.err.find("%), sent 2, done 1, in flight 1, failed 1, ", line), line + 36)
      << wide.err;
  // The last progress line is ended (\r\n on the terminal).
  EXPECT_EQ(wide.err.substr(wide.err.rfind("\033[K")), "\033[K\r\n") << wide.err;
  size_t lag = wide.err.find(", lag max ");
  ASSERT_NE(lag, std::string::npos) << wide.err;
  EXPECT_LT(std::stod(wide.err.substr(lag + 10)), 5000.0) << wide.err;
  Outcome narrow = run_program(args, nullptr, -1, 0, 45);
  line = narrow.err.find("\rvt_replay: 0:00:01 of 0:00:02 (4");
  EXPECT_EQ(narrow.err.find("%)\033[K", line), line + 36) << narrow.err;
  args.push_back("--quiet");
  Outcome quiet = run_program(args, nullptr, -1, 0, 200);
  EXPECT_EQ(quiet.err.find("vt_replay: 0:00:0"), std::string::npos) << quiet.err;
}

// An output that cannot be written whole (a full disk): status 1, nothing cut short left behind.
TEST(ReplayProgram, OutputsThatCannotBeWritten) {
  TestDir d, scratch;
  write_test_package(d.path, 1, {{1, 0, {{0, 0, "a"}, {1, 0, "b"}, {2, 0, "c"}, {3, 0, "d"}}}});
  ScriptedServer server;
  struct Case {
    std::string option, name;
    rlim_t limit;
    bool sent;  // the failure comes after the run, and its report
  };
  const std::vector<Case> cases = {
      {"--results", "r.jsonl", 300, true},  // four lines do not fit
      {"--results", "r.csv", 50, false},    // nor does the header: nothing is sent
      {"--json", "r.json", 300, true},
  };
  for (const Case &c : cases) {
    std::string path = scratch.path + "/" + c.name;
    Outcome o = run_program({d.path, "--target", server.target, c.option, path}, nullptr,
                            RLIMIT_FSIZE, c.limit);
    EXPECT_EQ(o.status, 1) << c.name << o.err;
    EXPECT_EQ(o.err, "vt_replay: " + c.option + ": cannot write " + path + ": File too large\n");
    EXPECT_EQ(o.out.find("completed 4") != std::string::npos, c.sent) << c.name << o.out;
    if (c.option != "--results") {
      EXPECT_FALSE(std::ifstream(path).good()) << c.name;
    }
  }
  EXPECT_EQ(server.received().size(), 8u);
}

// A soft limit on descriptors below what the users' connections need is raised.
TEST(ReplayProgram, RaisesItsDescriptorLimitForTheUsersConnections) {
  TestDir d;
  struct rlimit now;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
  if (now.rlim_max != RLIM_INFINITY && now.rlim_max < 200) GTEST_SKIP() << "hard limit too low";
  std::vector<TestUser> users;
  for (uint64_t u = 1; u <= 60; u++) users.push_back({u, 0, {{0, 0, "slow"}}});
  write_test_package(d.path, 1, users);
  ScriptedServer server;
  Outcome o = run_program({d.path, "--target", server.target}, nullptr, RLIMIT_NOFILE, 30);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("requests     planned 60, sent 60, completed 60, errors 0"),
            std::string::npos)
      << o.out;
}

TEST(ReplayProgram, BadInputEndsWithOneClearLine) {
  TestDir d, scratch;
  write_test_package(d.path, 2, {{1, 0, {{0, 0, "a"}}}, {2, 1, {{0, 0, "b"}}}});
  int closed_port = ScriptedServer().port;
  ScriptedServer server;
  TestCertificate certificate(scratch.path + "/tls.pem");
  ScriptedServer tls_server(&certificate);
  tls_server.garbled_handshakes = 1;  // the first connection, then TLS
  const std::string tls_target = "https://127.0.0.1:" + std::to_string(tls_server.port);
  const std::string taken = scratch.path + "/taken", none = scratch.path + "/none.json";
  const std::string fifo = scratch.path + "/fifo";
  std::ofstream(taken) << "x";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> args;
    std::string err;  // after "vt_replay"
    int status = 1;
  };
  const Case cases[] = {
      {{d.path, "--target", "127.0.0.1:" + std::to_string(closed_port)},
       ": target: cannot connect to 127.0.0.1:" + std::to_string(closed_port) +
           ": Connection refused\n"},
      {{scratch.path, "--target", server.target},
       ": reading package: " + scratch.path + " holds no vt_index_0: not a replay package\n"},
      {{d.path, "--target", server.target, "--start-at", "2026-11-18T11:06:40Z"},
       ": --start-at: 2026-11-18 11:06:40.000 UTC passed "},
      {{"merge", none}, " merge: cannot read " + none + ": No such file or directory\n"},
      {{"merge", taken},
       " merge: " + taken +
           ": line 1 column 1: syntax error while parsing value - invalid literal\n"},
      {{"merge", none, "--mixed-packages=1"}, " merge: --mixed-packages takes no value\nusage:", 2},
      {{d.path, "--target", "https://" + server.target, "--cacert", scratch.path + "/none.pem"},
       ": target: cannot read --cacert " + scratch.path + "/none.pem: No such file or directory\n"},
      {{d.path, "--target", "https://" + server.target, "--cacert", taken},
       ": target: cannot read --cacert " + taken + ": no certificate or crl found\n"},
      {{d.path, "--target", "https://" + server.target, "--cacert", fifo},
       ": target: cannot read --cacert " + fifo + ": a named pipe, not a regular file\n"},
      // Outputs are made before anything is sent, told apart by the file.
      {{d.path, "--target", server.target, "--json", scratch.path + "/no/r.json"},
       ": --json: cannot create " + scratch.path + "/no/r.json: No such file or directory\n"},
      {{d.path, "--target", server.target, "--json", scratch.path + "/o.csv", "--results",
        scratch.path + "/./o.csv"},
       ": --results: " + scratch.path + "/./o.csv is the file of --json " + scratch.path +
           "/o.csv: each output goes into a file of its own\n"},
      {{d.path, "--target", "https://" + server.target, "--insecure", "--timeout", "200"},
       ": target: TLS handshake with https://" + server.target + ": Connection timed out\n"},
      {{d.path, "--target", tls_target, "--insecure"},
       ": target: TLS handshake with " + tls_target +
           " failed: wrong version number (the server does not speak TLS: an http:// target?)\n"},
      {{d.path, "--target", tls_target, "--cacert", scratch.path + "/tls.pem", "--sni",
        "other.example"},
       ": target: certificate of " + tls_target +
           " refused for the name other.example: hostname mismatch (--sni NAME checks the "
           "certificate for NAME)\n"},
      {{d.path}, ": no --target given\nusage: vt_replay DIR", 2},
      {{"merge", none, "--html"}, " merge: --html needs a file name\nusage:", 2},
      {{"merge", none, "--json", "m", "--html=m"},
       " merge: --json and --html name the same file m\nusage:",
       2},
      {{"merge", "-x"}, " merge: unknown option -x\nusage:", 2},
      {{"merge"}, " merge: no report given\nusage:", 2},
      {{d.path, "--target", server.target, "--results", taken},
       ": --results: " + taken + " exists already; the results go into a new file\n"},
  };
  for (const Case &c : cases) {
    Outcome o = run_program(c.args);
    std::string err = "vt_replay" + c.err;
    EXPECT_EQ(o.status, c.status) << err;
    // Compared up to a measured figure or the usage.
    EXPECT_EQ(err.back() == '\n' ? o.err : o.err.substr(0, err.size()), err);
    EXPECT_EQ(o.out, "");
  }
  EXPECT_EQ(server.received().size(), 0u);
  EXPECT_FALSE(std::ifstream(none).good());
  EXPECT_FALSE(std::ifstream(scratch.path + "/o.csv").good());  // made, then removed
  // Asked for, the help comes first.
  Outcome help = run_program({"merge", none, "--help"});
  EXPECT_EQ(std::make_tuple(help.status, help.out.rfind("usage: vt_replay merge REPORT.json", 0),
                            help.err),
            std::make_tuple(0, 0ul, std::string()));
}

// (planned ms, user) of each line of a CSV results file, sorted.
std::vector<std::pair<double, uint64_t>> planned_users(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::pair<double, uint64_t>> out;
  std::string line;
  for (std::getline(in, line); std::getline(in, line);)
    out.push_back({atof(line.c_str()), strtoull(line.substr(line.rfind(',') + 1).c_str(), 0, 10)});
  std::sort(out.begin(), out.end());
  return out;
}

TEST(ReplayProgram, LoopsAndCopiesAreNewUsersAtTheirTimes) {
  TestDir d;  // sessions of 400 ms and 200 ms: a pass lasts 400 ms
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
    std::vector<std::string> args = {d.path,      "--target", server.target, "--quiet",
                                     "--results", results,    "--json",      reports.back()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome o = run_program(args);
    std::string n = std::to_string(5 * c.times);
    EXPECT_EQ(o.status, 0) << c.mode << o.err;
    EXPECT_NE(o.out.find("  mode         " + std::string(c.mode) + "\n"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("planned " + n + ", sent " + n + ", completed " + n), std::string::npos)
        << o.out;
    std::string report = read_text(reports.back());
    EXPECT_NE(report.find("{\"worker\": 0, \"users\": " + std::to_string(c.times) + ","),
              std::string::npos)
        << report;
    EXPECT_EQ(server.received().size(), 5u * c.times) << c.mode;
    EXPECT_EQ(server.connections, 2 * c.times + 1) << c.mode;  // and the probe's
    std::map<uint64_t, double> first;                          // each run user's first planned time
    for (auto [ms, user] : planned_users(results)) first.emplace(user, ms);
    std::multiset<double> firsts;
    for (auto [user, ms] : first) firsts.insert(ms);
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

TEST(ReplayProgram, RateHoldsWithinOnePercentOverTenSecondsInPackageOrder) {
  TestDir d;
  // Four users of 25 requests interleaved, 1 and 2 at the same times, a pass's
  // last (user 4's) where the next pass's first are.
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
  Outcome o = run_program({d.path, "--target", server.target, "--quiet", "--rate", "200/s",
                           "--loop", "20", "--results", results});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("  mode         loop x20, rate 200/s\n"), std::string::npos) << o.out;
  std::vector<Received> got = server.received();
  ASSERT_EQ(got.size(), 2000u);
  auto [first, last] =
      std::minmax_element(got.begin(), got.end(),
                          [](const Received &a, const Received &b) { return a.at_ns < b.at_ns; });
  EXPECT_NEAR(1999 / ((last->at_ns - first->at_ns) / 1e9), 200, 2) << o.out;
  EXPECT_EQ(server.connections, 4 * 20 + 1);
  // Slot by slot (5 ms apart), the users in the package's order, pass by pass.
  std::vector<std::pair<double, uint64_t>> slots = planned_users(results);
  ASSERT_EQ(slots.size(), 2000u);
  for (size_t i = 0; i < slots.size(); i++) {
    EXPECT_DOUBLE_EQ(slots[i].first, 5.0 * i);
    ASSERT_EQ(slots[i].second, order[i % 100].second + i / 100 * 1000000000) << "slot " << i;
  }
}

}  // namespace
