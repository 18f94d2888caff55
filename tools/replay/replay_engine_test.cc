// vt_replay against a scripted server of the test's own on 127.0.0.1: what
// nginx cannot be made to do (slow answers, resets, chunked answers, closing
// after each answer, garbage) and what only the receiving side can observe
// (bytes, order per user, connections and send times).
#include "tools/replay/replay_engine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "tools/replay/replay_test_support.h"

extern char **environ;

namespace {

int64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Received {
  int conn;
  int64_t at_ns;
  std::string request;  // head and body as read
};

// Answers each request by what its body asks for: "reset", "garbage",
// "silent", "chunked", "close" (answer, then close without saying so),
// "slow" (answer after 300 ms); anything else gets "200 OK".
struct ScriptedServer {
  int listen_fd = -1;
  int port = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> connections{0};
  std::mutex m;
  std::vector<Received> got;
  std::vector<std::thread> threads;

  ScriptedServer() {
    listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_fd, reinterpret_cast<sockaddr *>(&a), len) != 0 ||
        listen(listen_fd, 128) != 0 ||
        getsockname(listen_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
      abort();
    port = ntohs(a.sin_port);
    threads.emplace_back([this] { accept_loop(); });
  }
  ~ScriptedServer() {
    stop = true;
    for (std::thread &t : threads) t.join();
    close(listen_fd);
  }

  bool wait_readable(int fd) {
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  void accept_loop() {
    std::vector<std::thread> mine;
    while (wait_readable(listen_fd)) {
      int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      int id = connections++;
      mine.emplace_back([this, fd, id] { serve(fd, id); });
    }
    for (std::thread &t : mine) t.join();
  }

  void serve(int fd, int id) {
    std::string in;
    char buf[4096];
    while (true) {
      size_t head_end = in.find("\r\n\r\n");
      size_t need = std::string::npos;
      if (head_end != std::string::npos) {
        size_t cl = in.find("Content-Length: ");
        need = head_end + 4 + (cl < head_end ? std::stoul(in.substr(cl + 16)) : 0);
      }
      if (need != std::string::npos && in.size() >= need) {
        std::string request = in.substr(0, need);
        in.erase(0, need);
        {
          std::lock_guard<std::mutex> lock(m);
          got.push_back({id, now_ns(), request});
        }
        if (!answer(fd, request)) break;
        continue;
      }
      if (!wait_readable(fd)) break;
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      in.append(buf, static_cast<size_t>(n));
    }
    close(fd);
  }

  // False when the connection is to end here.
  bool answer(int fd, const std::string &request) {
    auto has = [&](const char *word) { return request.find(word) != std::string::npos; };
    auto say = [&](const std::string &text) {
      return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    };
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    if (has("reset")) {
      linger l{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      return false;
    }
    if (has("garbage")) return say("SOMETHING ELSE\r\n\r\n"), false;
    if (has("silent")) {
      while (wait_readable(fd)) {
        char c;
        if (read(fd, &c, 1) <= 0) break;
      }
      return false;
    }
    if (has("chunked")) {
      say("HTTP/1.1 201 Created\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nsome");
      usleep(20000);
      return say("\r\n5\r\nthing\r\n0\r\n\r\n");
    }
    if (has("close")) return say(ok), false;
    if (has("slow")) usleep(300000);
    return say(ok);
  }

  std::vector<Received> received() {
    std::lock_guard<std::mutex> lock(m);
    return got;
  }
};

struct ReplayRun {
  ReplayStats stats;
  bool ok = false;
  std::string error;
};

ReplayRun replay(const std::string &dir, int port, ReplayOptions o = {}) {
  ReplayRun r;
  ReplayPackage p;
  ReplayTarget t;
  if (!open_replay_package(dir, o.workers, &p, &r.error) ||
      !resolve_replay_target("127.0.0.1", std::to_string(port), &t, &r.error))
    return r;
  r.ok = run_replay(o, &p, t, -1, nullptr, &r.stats, &r.error);
  close_replay_package(&p);
  return r;
}

std::string body_of(const std::string &request) {
  return request.substr(request.find("\r\n\r\n") + 4);
}

TEST(ReplayEngine, SendsEachUsersEntriesInOrderAtTheirTimesOnOneConnection) {
  TestDir d;
  std::vector<TestUser> users = {
      {1, 0, {{0, 1, "<u1 n=0/>"}, {120, 2, "<u1 n=1/>"}, {130, 1, "<u1 n=2/>"}}},
      {2, 1, {{40, 1, "<u2 n=0/>"}, {300, 1, "<u2 n=1/>"}}},
      {3,
       0,
       {{60, 3, "<u3 n=0/>", "POST /old HTTP/1.0"}, {200, 3, "<u3 n=1/>", "POST /old HTTP/1.0"}}},
  };
  write_test_package(d.path, 2, users);
  ScriptedServer server;
  ReplayRun r = replay(d.path, server.port);
  ASSERT_TRUE(r.ok) << r.error;
  std::vector<Received> got = server.received();
  ASSERT_EQ(got.size(), 7u);
  // Every request arrived whole, unchanged, not before its time, and soon
  // after it (the bound leaves room for sanitizer builds on a busy machine).
  std::map<std::string, const TestRequest *> by_body;
  for (const TestUser &u : users)
    for (const TestRequest &q : u.requests) by_body[q.body] = &q;
  std::map<char, std::vector<const Received *>> per_user;
  for (const Received &g : got) {
    const TestRequest *q = by_body.at(body_of(g.request));
    EXPECT_EQ(g.request, test_entry_request(*q));
    int64_t planned = r.stats.start_ns + static_cast<int64_t>(q->time_ms) * 1000000;
    EXPECT_GE(g.at_ns, planned) << q->body;
    EXPECT_LT(g.at_ns - planned, 100000000) << q->body;
    per_user[q->body[2]].push_back(&g);
  }
  for (auto &[user, list] : per_user)
    for (size_t i = 0; i < list.size(); i++)
      EXPECT_NE(list[i]->request.find(" n=" + std::to_string(i)), std::string::npos) << user;
  // HTTP/1.1 users keep their connection; the HTTP/1.0 one opens one per request.
  EXPECT_EQ(per_user['1'][0]->conn, per_user['1'][2]->conn);
  EXPECT_NE(per_user['1'][0]->conn, per_user['2'][0]->conn);
  EXPECT_NE(per_user['3'][0]->conn, per_user['3'][1]->conn);
  EXPECT_EQ(server.connections, 4);

  // The counts by status, page and kind: the next test, and the nginx case.
  const ReplayStats &s = r.stats;
  EXPECT_EQ(s.counts.completed, 7u);
  ASSERT_EQ(s.workers.size(), 2u);
  EXPECT_EQ(s.workers[0].users, 2u);
  EXPECT_EQ(s.workers[0].counts.completed, 5u);
  EXPECT_EQ(s.workers[1].counts.sent, 2u);
  EXPECT_LT(s.lag_ns.max, 100000000u);
  EXPECT_NEAR(s.planned_span_s, 0.3, 0.001);
  EXPECT_STREQ(s.stopped_by, "end of package");
}

TEST(ReplayEngine, CountsEachShapeOfAnswerAndGoesOnWithTheUser) {
  TestDir d;
  auto user = [](uint64_t id, const char *first) {
    return TestUser{id, 0, {{0, 0, first}, {50, 1, "<after/>"}}};
  };
  write_test_package(d.path, 1,
                     {user(1, "chunked"),
                      user(2, "close"),
                      user(3, "reset"),
                      user(4, "garbage"),
                      user(5, "silent"),
                      user(6, "plain"),
                      // the next request goes out on the kept connection as it closes
                      {7, 0, {{0, 0, "close"}, {0, 1, "<right after/>"}}}});
  // One thread, and three that share the users and add up their counts.
  for (int threads : {1, 3}) {
    ScriptedServer server;
    ReplayOptions o;
    o.timeout_ms = 300;
    o.threads = threads;
    ReplayRun r = replay(d.path, server.port, o);
    ASSERT_TRUE(r.ok) << r.error;
    const ReplayStats &s = r.stats;
    EXPECT_EQ(s.counts.planned, 14u) << threads;
    EXPECT_EQ(s.counts.sent, 14u);
    EXPECT_EQ(s.counts.completed, 11u);  // chunked, close and plain, and every second request
    EXPECT_EQ(s.counts.errors, 3u);
    EXPECT_EQ(s.errors[kErrorReset], 1u);
    EXPECT_EQ(s.errors[kErrorParse], 1u);
    EXPECT_EQ(s.errors[kErrorTimeout], 1u);
    EXPECT_EQ(s.errors[kErrorConnect], 0u);
    EXPECT_EQ(s.status.at(201), 1u);
    EXPECT_EQ(s.status.at(200), 10u);
    EXPECT_EQ(s.pages.at(0).errors, 3u);
    EXPECT_EQ(s.pages.at(1).completed, 7u);
    EXPECT_EQ(s.workers[0].counts.completed, 11u);
    EXPECT_EQ(s.latency_ns.total, 11u);
    EXPECT_EQ(s.lag_ns.total, 14u);
    EXPECT_GE(server.received().size(), 14u);
  }
}

TEST(ReplayEngine, ConnectionsPerUserLetRequestsOverlap) {
  TestDir d;
  write_test_package(d.path, 1, {{1, 0, {{0, 0, "slow 1"}, {0, 0, "slow 2"}, {0, 0, "slow 3"}}}});
  for (int n : {1, 3}) {
    ScriptedServer server;
    ReplayOptions o;
    o.connections_per_user = n;
    ReplayRun r = replay(d.path, server.port, o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.stats.counts.completed, 3u);
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), 3u);
    int64_t spread = got[2].at_ns - got[0].at_ns;
    if (n == 1) {
      EXPECT_GE(spread, 600000000) << "each request waits for the answer before it";
    } else {
      EXPECT_LT(spread, 250000000) << "three in flight at once";
      EXPECT_EQ(server.connections, 3);
    }
    EXPECT_EQ(r.stats.max_in_flight, static_cast<uint64_t>(n));
  }
}

// (A stop on SIGINT: ReplayProgram.InterruptPrintsTheReportSoFar.)
TEST(ReplayEngine, StopsSendingAtTheDuration) {
  TestDir d;
  write_test_package(d.path, 1,
                     {{1, 0, {{0, 0, "a"}, {100, 0, "b"}, {2000, 0, "c"}}},
                      {2, 0, {{50, 0, "d"}, {3000, 0, "e"}}}});
  ScriptedServer server;
  ReplayOptions o;
  o.duration_s = 0.5;
  o.speed = 2;  // c (2000 ms) is due at 1 s, after the end
  ReplayRun r = replay(d.path, server.port, o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_STREQ(r.stats.stopped_by, "duration");
  EXPECT_EQ(r.stats.counts.sent, 3u);
  EXPECT_EQ(r.stats.counts.planned, 3u);
}

TEST(ReplayEngine, RefusedConnectionsAreConnectErrors) {
  TestDir d;
  write_test_package(d.path, 1, {{1, 0, {{0, 0, "a"}, {10, 0, "b"}}}});
  int port;
  {
    ScriptedServer gone;
    port = gone.port;
  }
  ReplayRun r = replay(d.path, port);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.stats.errors[kErrorConnect], 2u);
  EXPECT_EQ(r.stats.counts.sent, 0u);
  EXPECT_EQ(r.stats.counts.planned, 2u);
}

// The program itself: SIGINT ends the sending and prints the report so far;
// bad input ends it with one clear line.
struct Outcome {
  int status;
  std::string out, err;
};

// `during` runs while the program does (it may signal it).
Outcome run_program(const std::vector<std::string> &args, const std::string &dir,
                    const std::function<void(pid_t)> &during = nullptr) {
  std::vector<char *> argv;
  std::string program = VT_REPLAY_BINARY;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (std::string &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, (dir + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&fa, 2, (dir + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid;
  Outcome o{-1, "", ""};
  if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ) != 0) return o;
  posix_spawn_file_actions_destroy(&fa);
  if (during) during(pid);
  int status;
  waitpid(pid, &status, 0);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::stringstream out, err;
  out << std::ifstream(dir + "/out").rdbuf();
  err << std::ifstream(dir + "/err").rdbuf();
  o.out = out.str();
  o.err = err.str();
  return o;
}

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
  };
  for (const Case &c : cases) {
    Outcome o = run_program(c.args, scratch.path);
    EXPECT_EQ(o.status, c.status) << c.err;
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.out, "");
  }
  Outcome usage = run_program({d.path}, scratch.path);
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.err.rfind("vt_replay: no --target HOST:PORT given\nusage: vt_replay DIR", 0), 0u);
  Outcome help = run_program({"--help"}, scratch.path);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: vt_replay DIR", 0), 0u);
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
