// The vt_replay program itself against the scripted server on 127.0.0.1:
// SIGINT ends the sending and prints the report so far; bad input ends it
// with one clear line; thresholds set the exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <map>

#include "base/core/utc_time.h"
#include "tools/replay/replay_test_server.h"
#include "tools/replay/replay_test_support.h"

namespace {

std::string read_file(const std::string &path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// A signal mid-run, SIGINT or SIGTERM alike (what a CI time-out sends): the
// sending stops, the answers in flight are awaited, and the report, the
// JSON, the results and the page are all written and agree, the
// thresholds checked on what was measured; 130 or 143.
TEST(ReplayProgram, SigintAndSigtermEndTheRunWithEveryReport) {
  TestDir d;
  // User 2's second request is due at 100 ms but waits for an answer that
  // never comes: at the signal it counts as planned, not sent.
  write_test_package(d.path, 1,
                     {{1, 0, {{0, 0, "a"}, {100, 0, "b"}, {20000, 0, "c"}}},
                      {2, 0, {{0, 0, "silent"}, {100, 0, "d"}}}});
  ScriptedServer server;
  std::string target = "127.0.0.1:" + std::to_string(server.port);
  for (int signo : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signo);
    TestDir scratch;
    size_t before = server.received().size();
    std::string json = scratch.path + "/r.json", csv = scratch.path + "/r.csv";
    Outcome o = run_program(
        {d.path, "--target", target, "--json", json, "--results", csv, "--html",
         scratch.path + "/r.html", "--quiet", "--timeout", "500", "--max-latency", "p99=60s"},
        scratch.path, [&](pid_t pid) {
          // once three requests are in, the next is 20 s away
          server.wait_until([&] { return server.got.size() >= before + 3; });
          usleep(50000);
          kill(pid, signo);
        });
    EXPECT_EQ(o.status, 128 + signo) << o.err;
    const std::string by = signo == SIGINT ? "interrupt" : "SIGTERM";
    std::string j = read_file(json), results = read_file(csv),
                page = read_file(scratch.path + "/r.html");
    for (const auto &[text, part] : std::vector<std::pair<const std::string *, std::string>>{
             {&o.out, "stopped by " + by},
             {&o.out, "requests     planned 4, sent 3, completed 2, errors 1"},
             {&o.out, "threshold    max-latency p99=60s: measured "},
             {&j, "\"requests\": {\"planned\": 4, \"sent\": 3, \"completed\": 2"},
             {&j, "\"stopped_by\": \"" + by + "\""},
             {&j, "\"shard\": null,"},  // no shard, none named
             {&results, ",timeout,false,"},
             {&page, "<tr><th>verdict</th><td>FAILED: 1 of 2 thresholds crossed</td></tr>"}})
      EXPECT_NE(text->find(part), std::string::npos) << part << " in " << *text;
    EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 1 + 3);  // the header, 3 ended
    EXPECT_EQ(std::count(results.begin(), results.end(), ',') / 11 - 1, 3);
  }
  // A signal while it waits for --start-at: nothing sent, no output left.
  // SIGHUP is not taken over: it ends the program as it ends any other
  // (run_program gives -1 for an end by a signal).
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
    TestDir scratch;
    size_t received = server.received().size();
    Outcome waiting =
        run_program({d.path, "--target", target, "--start-at", std::to_string(time(nullptr) + 60),
                     "--quiet", "--json", scratch.path + "/r.json"},
                    scratch.path, [signo](pid_t pid) {
                      usleep(500000);
                      kill(pid, signo);
                    });
    const std::string by = signo == SIGINT ? "interrupted" : "SIGTERM";
    EXPECT_EQ(waiting.status, signo == SIGHUP ? -1 : 128 + signo) << waiting.err;
    EXPECT_EQ(waiting.err, signo == SIGHUP ? ""
                                           : "vt_replay: --start-at: " + by +
                                                 " while waiting; nothing was sent\n");
    EXPECT_EQ(server.received().size(), received);
    EXPECT_TRUE(signo == SIGHUP || !std::ifstream(scratch.path + "/r.json").good());
  }
}

// The verdict against servers that fail in each way users meet: no answer
// at all, every answer a 4xx, connections closed before the answer, a mix;
// no verdict without evidence, and without thresholds a failed request
// fails the run.
TEST(ReplayProgram, VerdictsTellWhatHappened) {
  ScriptedServer server;
  std::string target = "127.0.0.1:" + std::to_string(server.port);
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
        "failed request fails the run"},
       3},
      {"closed before the answer",
       {"a", "drop", "b"},
       {"--max-failed", "0"},
       {"threshold    max-failed 0: measured 0.3333, CROSSED", "0 sent again on a new connection"},
       3},
      {"closed, sent again when asked",
       {"a", "drop"},
       {"--retry-closed", "--max-failed", "0.5"},
       {"closed 1", "1 sent again on a new connection",
        "threshold    max-failed 0.5: measured 0.5000, held",
        "verdict      passed: 1 threshold held"},
       0},
      {"mixed, not allowed",
       {"a", "status 503", "b", "c"},
       {"--max-latency", "p50=60s"},
       {"verdict      FAILED: 1 of 2 thresholds crossed"},
       3},
      {"all well", {"a", "b"}, {}, {"verdict      no thresholds set: 0 of 2 failed, 0.0 %"}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TestDir d, scratch;
    TestUser u{1, 0, {}};
    for (size_t i = 0; i < c.bodies.size(); i++) u.requests.push_back({i * 10, 0, c.bodies[i]});
    write_test_package(d.path, 1, {u});
    std::vector<std::string> args = {d.path, "--target", target, "--quiet", "--timeout", "300"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Outcome o = run_program(args, scratch.path);
    EXPECT_EQ(o.status, c.status) << o.out << o.err;
    for (const std::string &line : c.lines)
      EXPECT_NE(o.out.find(line), std::string::npos) << line << "\n" << o.out;
  }
}

// On a terminal, a progress line about once a second: the time gone of the
// schedule's, what is sent, done, in flight and failed (the first answer is
// an error; the second comes never, and runs out of time after two seconds),
// cut to the terminal's width.
TEST(ReplayProgram, ProgressOnATerminal) {
  TestDir d, scratch;
  write_test_package(
      d.path, 1,
      {{1, 0, {{0, 0, "status 500"}, {500, 0, "silent"}, {1900, 0, "b"}, {2500, 0, "c"}}}});
  ScriptedServer server;
  std::string target = "127.0.0.1:" + std::to_string(server.port);
  std::vector<std::string> args = {
      d.path, "--target", target, "--timeout", "2000", "--connections-per-user", "2"};
  Outcome wide = run_program_on_terminal(args, scratch.path, 200);
  EXPECT_EQ(wide.status, 3) << wide.err;  // the 500 failed it
  EXPECT_NE(wide.out.find("completed 3"), std::string::npos) << wide.out;
  // The share is of the time (2.5 s), as the clock shows it.
  size_t line = wide.err.find("\rvt_replay: 0:00:01 of 0:00:02 (4");
  ASSERT_NE(line, std::string::npos) << wide.err;
  EXPECT_EQ(wide.err.find("%), sent 2, done 1, in flight 1, failed 1, ", line), line + 36)
      << wide.err;
  // The last progress line is ended (the terminal shows its newline as \r\n).
  EXPECT_EQ(wide.err.substr(wide.err.rfind("\033[K")), "\033[K\r\n") << wide.err;
  // The lag of the sends so far: milliseconds of a run of seconds.
  size_t lag = wide.err.find(", lag max ");
  ASSERT_NE(lag, std::string::npos) << wide.err;
  EXPECT_LT(std::stod(wide.err.substr(lag + 10)), 5000.0) << wide.err;
  Outcome narrow = run_program_on_terminal(args, scratch.path, 45);
  line = narrow.err.find("\rvt_replay: 0:00:01 of 0:00:02 (4");
  EXPECT_EQ(narrow.err.find("%)\033[K", line), line + 36) << narrow.err;
  args.push_back("--quiet");
  Outcome quiet = run_program_on_terminal(args, scratch.path, 200);
  EXPECT_EQ(quiet.err.find("vt_replay: 0:00:0"), std::string::npos) << quiet.err;
  // A wait of more than a second for --start-at says so, naming the time.
  TestDir one;
  write_test_package(one.path, 1, {{1, 0, {{0, 0, "a"}}}});
  int64_t at = time(nullptr) + 3;
  Outcome waited = run_program_on_terminal(
      {one.path, "--target", target, "--start-at", std::to_string(at)}, scratch.path, 200);
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_NE(waited.err.find(" s for --start-at " + vtlb_utc_text(static_cast<uint64_t>(at) * 1000)),
            std::string::npos)
      << waited.err;
}

// A results file, report or page that cannot be written whole (the file size
// limit stands for a full disk) ends the run with status 1 naming the option
// and the file, after the report on standard output; a page or report cut
// short is not left behind.
TEST(ReplayProgram, OutputsThatCannotBeWritten) {
  TestDir d, scratch;
  write_test_package(d.path, 1, {{1, 0, {{0, 0, "a"}, {1, 0, "b"}, {2, 0, "c"}, {3, 0, "d"}}}});
  ScriptedServer server;
  std::string target = "127.0.0.1:" + std::to_string(server.port);
  struct Case {
    std::string option, name;
    rlim_t limit;
    bool sent;  // the failure comes after the run, and its report
  };
  const std::vector<Case> cases = {
      {"--results", "r.jsonl", 300, true},  // four lines do not fit
      {"--results", "r.csv", 50, false},    // nor does the header: nothing is sent
      {"--json", "r.json", 300, true},
      {"--html", "r.html", 300, true},
  };
  for (const Case &c : cases) {
    std::string path = scratch.path + "/" + c.name;
    Outcome o = run_program({d.path, "--target", target, c.option, path}, "", nullptr, RLIMIT_FSIZE,
                            c.limit);
    EXPECT_EQ(o.status, 1) << c.name << o.err;
    EXPECT_EQ(o.err, "vt_replay: " + c.option + ": cannot write " + path + ": File too large\n");
    EXPECT_EQ(o.out.find("completed 4") != std::string::npos, c.sent) << c.name << o.out;
    if (c.option != "--results") {
      EXPECT_FALSE(std::ifstream(path).good()) << c.name;
    }
  }
  EXPECT_EQ(server.received().size(), 12u);
}

// Every user may hold a connection open: a soft limit on descriptors below
// what they need is raised as far as the hard limit allows.
TEST(ReplayProgram, RaisesItsDescriptorLimitForTheUsersConnections) {
  TestDir d, scratch;
  struct rlimit now;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
  if (now.rlim_max != RLIM_INFINITY && now.rlim_max < 200) GTEST_SKIP() << "hard limit too low";
  std::vector<TestUser> users;
  for (uint64_t u = 1; u <= 60; u++) users.push_back({u, 0, {{0, 0, "slow"}}});
  write_test_package(d.path, 1, users);
  ScriptedServer server;
  Outcome o = run_program({d.path, "--target", "127.0.0.1:" + std::to_string(server.port)}, "",
                          nullptr, RLIMIT_NOFILE, 30);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("requests     planned 60, sent 60, completed 60, errors 0"),
            std::string::npos)
      << o.out;
}

TEST(ReplayProgram, BadInputEndsWithOneClearLine) {
  TestDir d, scratch;
  write_test_package(d.path, 2, {{1, 0, {{0, 0, "a"}}}, {2, 1, {{0, 0, "b"}}}});
  int closed_port;
  {
    ScriptedServer gone;
    closed_port = gone.port;
  }
  ScriptedServer server;
  std::string target = "127.0.0.1:" + std::to_string(server.port);
  // A server that answers the TLS hello with no TLS.
  TestCertificate certificate(scratch.path + "/tls.pem");
  ScriptedServer garbled(&certificate);
  garbled.garbled_handshakes = 1;
  std::string garbled_target = "https://127.0.0.1:" + std::to_string(garbled.port);
  ScriptedServer tls_server(&certificate);
  const std::string taken = scratch.path + "/taken", none = scratch.path + "/none.json";
  const std::string fifo = scratch.path + "/fifo";
  std::ofstream(taken) << "x";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> args;
    std::string err;
    int status = 1;
  };
  std::vector<Case> cases = {
      {{d.path, "--target", "127.0.0.1:" + std::to_string(closed_port)},
       "vt_replay: target: cannot connect to 127.0.0.1:" + std::to_string(closed_port) +
           ": Connection refused\n"},
      {{scratch.path, "--target", target},
       "vt_replay: reading package: " + scratch.path +
           " holds no vt_index_0: not a replay package\n"},
      {{taken, "--target", target}, "vt_replay: reading package: " + taken + ": Not a directory\n"},
      {{d.path, "--target", target, "--start-at", "2026-11-18T11:06:40Z"},
       "vt_replay: --start-at: 2026-11-18 11:06:40.000 UTC passed "},
      {{"merge", none}, "vt_replay merge: cannot read " + none + ": No such file or directory\n"},
      {{"merge", taken},
       "vt_replay merge: " + taken +
           ": line 1 column 1: syntax error while parsing value - invalid literal\n"},
      {{"merge", none, "--mixed-packages=1"},
       "vt_replay merge: --mixed-packages takes no value\nusage:",
       2},
      {{d.path, "--target", "https://" + target, "--cacert", scratch.path + "/none.pem"},
       "vt_replay: target: cannot read --cacert " + scratch.path +
           "/none.pem: No such file or directory\n"},
      {{d.path, "--target", "https://" + target, "--cacert", taken},
       "vt_replay: target: cannot read --cacert " + taken + ": no certificate or crl found\n"},
      // Read as every input is: a named pipe is refused, not waited on.
      {{d.path, "--target", "https://" + target, "--cacert", fifo},
       "vt_replay: target: cannot read --cacert " + fifo + ": a named pipe, not a regular file\n"},
      // Outputs are made before anything is sent, told apart by the file, not its name.
      {{d.path, "--target", target, "--json", scratch.path + "/no/r.json"},
       "vt_replay: --json: cannot create " + scratch.path +
           "/no/r.json: No such file or directory\n"},
      {{d.path, "--target", target, "--json", scratch.path + "/o.csv", "--results",
        scratch.path + "/./o.csv"},
       "vt_replay: --results: " + scratch.path + "/./o.csv is the file of --json " + scratch.path +
           "/o.csv: each output goes into a file of its own\n"},
      // The server speaks no TLS: it waits for a head that never ends.
      {{d.path, "--target", "https://" + target, "--insecure", "--timeout", "200"},
       "vt_replay: target: TLS handshake with https://" + target + ": Connection timed out\n"},
      {{d.path, "--target", garbled_target, "--insecure"},
       "vt_replay: target: TLS handshake with " + garbled_target +
           " failed: wrong version number (the server does not speak TLS: an http:// target?)\n"},
      // A certificate for another name: --sni is the fix, and the names it is for.
      {{d.path, "--target", "https://127.0.0.1:" + std::to_string(tls_server.port), "--cacert",
        scratch.path + "/tls.pem", "--sni", "other.example"},
       "vt_replay: target: certificate of https://127.0.0.1:" + std::to_string(tls_server.port) +
           " refused for the name other.example: hostname mismatch (--sni NAME checks the "
           "certificate for NAME)\n"},
      {{d.path}, "vt_replay: no --target given\nusage: vt_replay DIR", 2},
      {{"merge", none, "--json=", "m.json"},
       "vt_replay merge: --json needs a file name\nusage: vt_replay merge",
       2},
      {{"merge", none, "--html"}, "vt_replay merge: --html needs a file name\nusage:", 2},
      {{"merge", none, "--json", "m", "--html=m"},
       "vt_replay merge: --json and --html name the same file m\nusage:",
       2},
      {{"merge", "-x"}, "vt_replay merge: unknown option -x\nusage:", 2},
      {{"merge"}, "vt_replay merge: no report given\nusage:", 2},
  };
  for (auto [option, what] :
       {std::pair{"--json", "report goes"}, {"--results", "results go"}, {"--html", "page goes"}}) {
    cases.push_back({{d.path, "--target", target, option, taken},
                     "vt_replay: " + std::string(option) + ": " + taken + " exists already; the " +
                         what + " into a new file\n"});
  }
  for (const Case &c : cases) {
    Outcome o = run_program(c.args, scratch.path);
    EXPECT_EQ(o.status, c.status) << c.err;
    // A message that goes on with a measured figure, or with the usage, is
    // compared up to it.
    EXPECT_EQ(c.err.back() == '\n' ? o.err : o.err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(o.out, "");
  }
  EXPECT_EQ(server.received().size(), 0u);
  EXPECT_FALSE(std::ifstream(none).good());
  EXPECT_FALSE(std::ifstream(scratch.path + "/o.csv").good());  // made, then removed
  // Asked for, the help comes first (--help and --version themselves:
  // cli_conventions.sh).
  Outcome help = run_program({"merge", none, "--help"}, scratch.path);
  EXPECT_EQ(std::make_tuple(help.status, help.out.rfind("usage: vt_replay merge REPORT.json", 0),
                            help.err),
            std::make_tuple(0, 0ul, std::string()));
}

// The planned_ms of every line of results files, sorted.
std::vector<std::string> planned_times(const std::vector<std::string> &paths) {
  std::vector<std::string> out;
  for (const std::string &path : paths) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("planned_ms,", 0) == 0) continue;  // a CSV header
      size_t at = line.rfind("{\"planned_ms\":", 0) == 0 ? 14 : 0;
      out.push_back(line.substr(at, line.find(',') - at));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The package run whole, with a results file, and again as two
// shards at once from one start, merged: the same counts per page, status
// and worker, and every request planned at the same time of the schedule.
TEST(ReplayProgram, ShardsMergeToTheWholeRun) {
  TestDir d, whole, part0, part1;
  std::vector<TestUser> users;
  for (uint64_t id = 1; id <= 12; id++) {
    TestUser u{id, static_cast<int>(id % 3), {}};
    // Worker 0 has the package's first request (time 0), worker 1's first
    // comes 7 ms later.
    for (uint64_t k = 0; k < 4; k++)
      u.requests.push_back({(id + 9) % 12 * 7 + k * 40, static_cast<int>((id + k) % 3),
                            (id + k) % 5 == 0 ? "status 503" : "<x/>"});
    users.push_back(u);
  }
  write_test_package(d.path, 3, users);
  ScriptedServer server;
  std::string target = "127.0.0.1:" + std::to_string(server.port);
  Outcome o = run_program({d.path, "--target", target, "--quiet", "--results",
                           whole.path + "/r.jsonl", "--max-failed", "0.5"},
                          whole.path);
  ASSERT_EQ(o.status, 0) << o.err;
  // The package names no page and no capture clock: no column of names, nor
  // blanks for one, and no capture times.
  EXPECT_EQ(o.out.find("  service"), std::string::npos);
  EXPECT_EQ(o.out.find("  captured"), std::string::npos);
  EXPECT_EQ(o.out.find(" \n"), std::string::npos) << o.out;

  // Shard 0 of 2 takes workers 0 and 2, shard 1 worker 1; both start 1.5 s
  // from now on the system's clock.
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  long long start_ms = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + 1500;
  char start[32];
  snprintf(start, sizeof start, "%lld.%03lld", start_ms / 1000, start_ms % 1000);
  auto shard = [&](const std::string &which, const std::string &dir) {
    return std::vector<std::string>{
        d.path,      "--target",     target,         "--quiet", "--shard",
        which,       "--start-at",   start,          "--json",  dir + "/r.json",
        "--results", dir + "/r.csv", "--max-failed", "0.5"};
  };
  Outcome second;
  Outcome first = run_program(shard("0/2", part0.path), part0.path, [&](pid_t) {
    second = run_program(shard("1/2", part1.path), part1.path);
  });
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_NE(first.out.find("; shard 0/2\n"), std::string::npos) << first.out;
  EXPECT_NE(second.out.find("  1      "), std::string::npos) << second.out;
  // Both reports start at the time given, to the microsecond.
  for (const TestDir *part : {&part0, &part1})
    EXPECT_NE(read_file(part->path + "/r.json")
                  .find("\"start_unix_us\": " + std::to_string(start_ms * 1000) + ",\n"),
              std::string::npos);
  Outcome merged = run_program(
      {"merge", part0.path + "/r.json", part1.path + "/r.json", "--json", part0.path + "/m.json"},
      part1.path);
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.err, "");
  // A report or page that cannot be written fails the merge.
  for (std::string option : {"--json", "--html"}) {
    std::string path = part1.path + "/no/m";
    Outcome o = run_program({"merge", part0.path + "/r.json", option, path}, part1.path);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "vt_replay merge: " + option + ": cannot create " + path +
                         ": No such file or directory\n");
  }
  // A shard given twice is refused; a threshold crossed by the whole gives 3.
  Outcome twice = run_program(
      {"merge", part0.path + "/r.json", part1.path + "/r.json", part0.path + "/./r.json"},
      part1.path);
  EXPECT_EQ(twice.status, 1);
  EXPECT_EQ(twice.err, "vt_replay merge: " + part0.path + "/./r.json is " + part0.path +
                           "/r.json given again: each report is added up once\n");
  std::string strict = read_file(part1.path + "/r.json");
  const std::string given = "\"max-failed 0.5\", \"kind\": \"failed\", \"limit\": 0.5,";
  ASSERT_NE(strict.find(given), std::string::npos) << strict;
  strict.replace(strict.find(given), given.size(),
                 "\"max-failed 0.01\", \"kind\": \"failed\", \"limit\": 0.01,");
  std::ofstream(part1.path + "/strict.json") << strict;
  Outcome crossed =
      run_program({"merge", part0.path + "/r.json", part1.path + "/strict.json"}, part1.path);
  EXPECT_EQ(crossed.status, 3) << crossed.err;
  EXPECT_NE(crossed.out.find("verdict      FAILED: 1 of 2 thresholds crossed"), std::string::npos)
      << crossed.out;
  // The parts were of one package and one target: the merged report names them.
  EXPECT_EQ(merged.out.rfind("vt_replay: report: " + d.path + " against " + target + ", ", 0), 0u)
      << merged.out;
  for (const std::string *report : {&o.out, &merged.out}) {
    EXPECT_NE(report->find("requests     planned 48, sent 48, completed 48, errors 0"),
              std::string::npos);
  }
  // Each shard keeps the package's time 0, as the whole run does.
  EXPECT_EQ(planned_times({part0.path + "/r.csv", part1.path + "/r.csv"}),
            planned_times({whole.path + "/r.jsonl"}));
  EXPECT_NE(read_file(part0.path + "/m.json").find("\"merged_from\": ["), std::string::npos);
}

}  // namespace
