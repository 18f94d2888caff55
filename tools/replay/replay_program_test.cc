// The vt_replay program itself against the scripted server on 127.0.0.1:
// SIGINT ends the sending and prints the report so far; bad input ends it
// with one clear line; thresholds set the exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "tools/replay/replay_test_server.h"
#include "tools/replay/replay_test_support.h"

namespace {

TEST(ReplayProgram, InterruptPrintsTheReportSoFar) {
  TestDir d, scratch;
  write_test_package(d.path, 1, {{1, 0, {{0, 0, "a"}, {100, 0, "b"}, {20000, 0, "c"}}}});
  ScriptedServer server;
  std::string json = scratch.path + "/report.json";
  Outcome o = run_program(
      {d.path, "--target", "127.0.0.1:" + std::to_string(server.port), "--json", json, "--quiet"},
      scratch.path, [&server](pid_t pid) {
        // once the first two requests are in, the third is 20 s away
        for (int i = 0; i < 1000 && server.received().size() < 2; i++) usleep(10000);
        usleep(50000);
        kill(pid, SIGINT);
      });
  EXPECT_EQ(o.status, 130) << o.err;
  EXPECT_NE(o.out.find("stopped by interrupt"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("requests     planned 2, sent 2, completed 2, errors 0"), std::string::npos)
      << o.out;
  std::stringstream j;
  j << std::ifstream(json).rdbuf();
  EXPECT_NE(j.str().find("\"requests\": {\"planned\": 2, \"sent\": 2, \"completed\": 2"),
            std::string::npos)
      << j.str();
  EXPECT_NE(j.str().find("\"stopped_by\": \"interrupt\""), std::string::npos);
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
  std::ofstream(scratch.path + "/taken") << "x";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{d.path, "--target", "127.0.0.1:" + std::to_string(closed_port)},
       1,
       "vt_replay: target: cannot connect to 127.0.0.1:" + std::to_string(closed_port) +
           ": Connection refused\n"},
      {{scratch.path, "--target", target},
       1,
       "vt_replay: reading package: " + scratch.path +
           " holds no vt_index_0: not a replay package\n"},
      {{d.path, "--target", target, "--json", scratch.path + "/taken"},
       1,
       "vt_replay: --json: " + scratch.path +
           "/taken exists already; the report goes into a new file\n"},
      {{d.path, "--target", "https://" + target, "--cacert", scratch.path + "/none.pem"},
       1,
       "vt_replay: target: cannot read --cacert " + scratch.path +
           "/none.pem: No such file or directory\n"},
      {{d.path, "--target", "https://" + target, "--cacert", scratch.path + "/taken"},
       1,
       "vt_replay: target: cannot read --cacert " + scratch.path + "/taken: no certificate or crl found\n"},
      // The server speaks no TLS: it waits for a head that never ends.
      {{d.path, "--target", "https://" + target, "--insecure", "--timeout", "200"},
       1,
       "vt_replay: target: TLS handshake with https://" + target + ": Connection timed out\n"},
  };
  for (const Case &c : cases) {
    Outcome o = run_program(c.args, scratch.path);
    EXPECT_EQ(o.status, c.status) << c.err;
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.out, "");
  }
  Outcome usage = run_program({d.path}, scratch.path);
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.err.rfind("vt_replay: no --target given\nusage: vt_replay DIR", 0), 0u);
  Outcome bad_header = run_program({d.path, "--target", target, "--header", "X-A"}, scratch.path);
  EXPECT_EQ(bad_header.status, 2);
  EXPECT_EQ(bad_header.err.rfind("vt_replay: --header X-A: expected 'Name: value'", 0), 0u);
  Outcome help = run_program({"--help"}, scratch.path);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: vt_replay DIR", 0), 0u);
  Outcome version = run_program({"--version"}, scratch.path);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "vt_replay 1.0.0\n");
}

// One request in four answered 503: each kind of threshold crossed and held,
// alone and together; the report names each with its measured value.
TEST(ReplayProgram, ThresholdsSetTheExitStatus) {
  TestDir d, scratch;
  write_test_package(d.path, 1,
                     {{1, 0, {{0, 0, "a"}, {5, 0, "status 503"}, {10, 0, "b"}, {15, 0, "c"}}}});
  ScriptedServer server;
  std::string target = "http://127.0.0.1:" + std::to_string(server.port);
  struct Case {
    std::vector<std::string> options;
    int status;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {{}, 0, {"verdict      passed (no threshold set)"}},
      {{"--max-failed", "0.25"}, 0, {"threshold    max-failed 0.25: measured 0.2500, held"}},
      {{"--max-failed", "20%"},
       3,
       {"threshold    max-failed 20%: measured 0.2500, CROSSED",
        "verdict      FAILED: 1 of 1 threshold crossed"}},
      {{"--ok-status", "2xx,503", "--max-failed", "0"},
       0,
       {"failed       0 (errors 0), ok statuses 2xx,503, success ratio 1.0000 (4 of 4)",
        "threshold    max-failed 0: measured 0.0000, held"}},
      {{"--max-latency", "p50=60000", "--max-lag", "p99=60000"},
       0,
       {"threshold    max-latency p50=60000: measured ", "threshold    max-lag p99=60000: measured ",
        "verdict      passed: 2 thresholds held"}},
      {{"--max-latency", "max=0.000001"}, 3, {"threshold    max-latency max=0.000001: measured "}},
      {{"--max-lag", "p100=0.000001", "--max-failed", "1"},
       3,
       {"threshold    max-lag p100=0.000001: measured ", "verdict      FAILED: 1 of 2 thresholds crossed"}},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = {d.path, "--target", target, "--quiet"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Outcome o = run_program(args, scratch.path);
    SCOPED_TRACE(o.out);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_NE(o.out.find("failed       "), std::string::npos);
    for (const std::string &line : c.lines) EXPECT_NE(o.out.find(line), std::string::npos) << line;
    size_t crossed = o.out.find(", CROSSED");
    EXPECT_EQ(crossed != std::string::npos, c.status == 3);
  }
}

// A named pipe, a device or a directory in place of a package file is
// refused at once, naming it; nothing waits on it (a run that has not ended
// after 10 s is killed and fails the case).
TEST(ReplayProgram, RefusesWhatIsNoRegularFileWithoutWaiting) {
  struct Case {
    const char *file;
    const char *kind;  // "fifo", "device" or "dir"
    const char *why;
  };
  const Case cases[] = {
      {"vt_index_0", "fifo", "a named pipe, not a regular file"},
      {"vt_req_0", "fifo", "a named pipe, not a regular file"},
      {"vt_req_1", "device", "a device, not a regular file"},
      {"vt_index_1", "dir", "a directory, not a regular file"},
  };
  ScriptedServer server;
  std::string target = "127.0.0.1:" + std::to_string(server.port);
  auto deadline = [](pid_t pid) {
    siginfo_t info;
    for (int i = 0; i < 100; i++) {
      info.si_pid = 0;
      if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid)
        return;
      usleep(100000);
    }
    kill(pid, SIGKILL);
  };
  for (const Case &c : cases) {
    TestDir d, scratch;
    write_test_package(d.path, 2, {{1, 0, {{0, 0, "a"}}}, {2, 1, {{0, 0, "b"}}}});
    std::string path = d.path + "/" + c.file;
    unlink(path.c_str());
    std::string kind = c.kind;
    int made = kind == "fifo"     ? mkfifo(path.c_str(), 0600)
               : kind == "device" ? symlink("/dev/zero", path.c_str())
                                  : mkdir(path.c_str(), 0700);
    ASSERT_EQ(made, 0) << path;
    Outcome o = run_program({d.path, "--target", target, "--quiet"}, scratch.path, deadline);
    EXPECT_EQ(o.status, 1) << c.file << " " << c.kind;
    EXPECT_EQ(o.err, "vt_replay: reading package: cannot open " + path + ": " + c.why + "\n");
  }
  EXPECT_EQ(server.received().size(), 0u);
}

}  // namespace
