// The replay engine against the scripted server on 127.0.0.1, plain and TLS.
#include "tools/replay/replay_engine.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "base/core/failing_io_test_support.h"
#include "base/core/open_descriptors_test_support.h"
#include "base/figures/replay_results.h"
#include "tools/replay/replay_test_server.h"
#include "tools/replay/replay_test_support.h"

// Options are given as designated initializers, the rest at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct ReplayRun {
  ReplayStats stats;
  bool ok = false;
  std::string error;
};

// Over TLS given `cacert` (`verify` false: unchecked, for svc.test); `opened` runs before the run.
ReplayRun replay(const std::string &dir, int port, ReplayOptions o = {},
                 const std::string &cacert = "", bool verify = true,
                 const ReplayRunContext &ctx = {}, const std::function<void()> &opened = nullptr) {
  ReplayRun r;
  ReplayPackage p;
  ReplayTarget t;
  ReplayTargetName name{cacert.empty() ? ReplayScheme::kHttp : ReplayScheme::kHttps, "127.0.0.1",
                        std::to_string(port)};
  if (open_replay_package(dir, o.workers, &p, &r.error) &&
      (cacert.empty() || make_replay_tls(verify ? "127.0.0.1" : "svc.test", verify ? cacert : "",
                                         !verify, &t.tls, &r.error)) &&
      resolve_replay_target(name, &t, &r.error)) {
    if (opened) opened();
    r.ok = run_replay(o, &p, t, ctx, &r.stats, &r.error);
  }
  close_replay_package(&p);
  release_replay_target(&t);
  return r;
}

// The stats of a run expected to succeed.
ReplayStats ok(const ReplayRun &r) {
  EXPECT_TRUE(r.ok) << r.error;
  return r.stats;
}

ReplayRun replay_users(const std::vector<TestUser> &users, int port, ReplayOptions o = {},
                       const std::string &cacert = "", bool verify = true) {
  TestDir d;
  write_test_package(d.path, 1, users);
  return replay(d.path, port, o, cacert, verify);
}

struct TlsFixture {
  TestDir dir;
  std::string cacert = dir.path + "/cert.pem";
  TestCertificate certificate{cacert};
};

std::string body_of(const std::string &request) {
  return request.substr(request.find("\r\n\r\n") + 4);
}

TEST(ReplayEngine, SendsEachUsersEntriesInOrderAtTheirTimesOnOneConnection) {
  TestDir d;
  auto e = [](int u, int n, uint64_t t, const char *line = "POST /svc/p HTTP/1.1",
              const char *headers = "") {
    return TestRequest{t, n, "<u" + std::to_string(u) + " n=" + std::to_string(n) + "/>", line,
                       headers};
  };
  const char *keep = "connection:  Keep-Alive\r\n", *k10 = "POST /k HTTP/1.0",
             *old = "POST /o HTTP/1.0";
  std::vector<TestUser> users = {
      {1, 0, {e(1, 0, 0), e(1, 1, 120), e(1, 2, 130)}},
      {2, 1, {e(2, 0, 40, k10, keep), e(2, 1, 300, k10, keep)}},
      {3, 0, {e(3, 0, 60, old), e(3, 1, 200, old)}},
      // Lines shorter than " HTTP/1.0" go out as they are, on a kept connection.
      {4, 1, {e(4, 0, 150, "POST /a"), e(4, 1, 160, "HTTP/1.0"), e(4, 2, 170, "GET /a")}},
  };
  users[0].requests[2].body += std::string(100000, 'z');
  write_test_package(d.path, 2, users);
  std::map<std::string, const TestRequest *> by_body;
  uint64_t entries = 0;
  for (const TestUser &u : users)
    for (const TestRequest &q : u.requests)
      by_body[q.body] = &q, entries += test_entry_request(q).size();
  TlsFixture tls;
  for (bool over_tls : {false, true}) {
    SCOPED_TRACE(over_tls ? "TLS" : "plain");
    ScriptedServer server(over_tls ? &tls.certificate : nullptr);
    ReplayStats s = ok(replay(d.path, server.port, {}, over_tls ? tls.cacert : ""));
    ASSERT_TRUE(server.wait_until([&] { return server.serving == 0; }));  // the client closed all
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), 10u);
    // Each whole, unchanged, in its user's order, not before its time.
    std::map<char, std::set<int>> conns;  // per user
    std::map<char, int> next;
    for (const Received &g : got) {
      const TestRequest *q = by_body.at(body_of(g.request));
      EXPECT_EQ(g.request, test_entry_request(*q));
      EXPECT_GE(g.at_ns, s.start_ns + static_cast<int64_t>(q->time_ms) * 1000000) << q->body;
      EXPECT_EQ(q->body[6] - '0', next[q->body[2]]++) << q->body;
      conns[q->body[2]].insert(g.conn);
    }
    // HTTP/1.0 opens one per request unless it asks for keep-alive.
    std::string per_user;
    for (const auto &[user, set] : conns)
      per_user += std::string(1, user) + ":" + std::to_string(set.size()) + " ";
    EXPECT_EQ(per_user, "1:1 2:1 3:2 4:1 ");
    EXPECT_EQ(server.connections, 5);
    // A full handshake per user, the HTTP/1.0 user's second one resumed; each says goodbye.
    EXPECT_EQ(
        std::make_tuple(s.tls.handshakes, s.tls.resumed, server.resumed.load(),
                        s.tls.handshake_ns.total, server.goodbyes.load()),
        over_tls ? std::make_tuple(5ul, 1ul, 1, 5ul, 5) : std::make_tuple(0ul, 0ul, 0, 0ul, 0));
    EXPECT_TRUE(!over_tls || (s.tls.handshake_ns.min > 0 && s.tls.handshake_ns.max < 5000000000u));
    EXPECT_EQ(counts_line(s), "planned 10, sent 10, completed 10, errors 0 (); 200: 10");
    ASSERT_EQ(s.workers.size(), 2u);
    EXPECT_EQ(
        std::make_tuple(s.workers[0].users, s.workers[0].counts.completed, s.workers[1].counts.sent,
                        s.package_start_ms, s.package_last_ms, s.stopped_by),
        std::make_tuple(2u, 5u, 5u, int64_t{0}, int64_t{300}, std::string("end of package")));
    EXPECT_NEAR(s.planned_span_s, 0.3, 0.001);
    EXPECT_EQ(
        std::make_pair(s.bytes_sent, s.bytes_received),
        std::make_pair(entries, 10 * strlen("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")));
  }
}

// A run's end beyond its counts, as the server and the stats saw it.
std::string outcome(const ReplayRun &r, ScriptedServer &server, bool columns) {
  const ReplayStats &s = r.stats;
  uint64_t rewrites = 0;
  for (const ReplayRewriteTally &t : s.rewrites) rewrites += t.replaced + t.added + t.removed;
  size_t read = server.received().size();
  char more[160];
  snprintf(more, sizeof more, "%s%zu read, %lu retried, %lu rewritten, %s%lu handshakes",
           read ? (std::to_string(server.connections) + " connections, ").c_str() : "", read,
           s.retries, rewrites,
           columns ? (std::to_string(s.timeline.column_ms) + " ms columns, ").c_str() : "",
           s.tls.handshakes);
  std::string names;  // SNI, sent for a name, never for an address
  for (const std::string &name : server.names) names += name.empty() ? "" : ", sni " + name;
  return (r.ok ? "" : r.error + "; ") + more + names +
         (s.tls.first_failure.empty() ? "" : "; " + s.tls.first_failure);
}

// TLS trusting the server's certificate, another one, or none checked; TLS to a plain server.
enum Speech { kPlain, kTls, kStranger, kUnchecked, kTlsToPlain };

TEST(ReplayEngine, EachRunEndsAsItsServerMadeIt) {
  TestRequest big{0, 0, "reset" + std::string(16 << 20, 'x')};
  big.headers = "Content-Length: 5\r\n";  // the server reads this far, then resets
  std::vector<TestUser> closing;
  for (uint64_t id = 1; id <= 20; id++)
    closing.push_back({id, 0, {{60000, 0, "close"}, {60200, 0, "b"}}});
  const std::vector<TestUser> resets = {
      {1, 0, {{0, 0, "a"}, {100, 0, "reset"}, {200, 0, "b"}, {300, 0, "drop"}}},
      {2, 0, {{0, 0, "drop"}}}};
  const std::vector<TestUser> spanned = {{1, 0, {{0, 0, "a"}, {600, 0, "b"}}}},
                              at_once = {{1, 0, {{0, 0, "a"}}}, {2, 0, {{0, 0, "b"}}}};
  const std::vector<TestUser> shakes = {{1, 0, {{0, 0, "a"}, {10, 0, "b"}}}, {2, 0, {{5, 0, "c"}}}};
  const std::vector<TestUser> half = {{1, 0, {big, {100, 0, "<after/>"}}}};
  const std::vector<TestUser> trickling = {{1, 0, {{50, 0, "a"}, {100, 0, "b"}}},
                                           {2, 0, {{0, 0, "c"}, {300, 0, "trickle"}}}};
  ReplayOptions none, slow{.timeout_ms = 5000}, quick{.timeout_ms = 300}, rule, resend, fast, cut;
  rule.headers = rules_of({"X-New: 1"});
  resend = rule, resend.retry_closed = true;
  fast.speed = 2, cut.duration_s = 0.3;
  const std::string refused =
      "certificate refused for the name 127.0.0.1: self-signed certificate (--cacert FILE "
      "trusts another authority; --insecure skips the check)";
  struct Case {
    const char *what;
    std::vector<TestUser> users;
    ReplayOptions o;
    Speech speech;
    std::string counts, more;
    unsigned garbled = 0;  // the server's connections that answer the hello with no TLS
    bool columns = false;
  };
  const Case cases[] = {
      // Not used again once closed with the answer; the run spans 200 ms from 60 s.
      {"closed with the answer", closing, none, kPlain,
       "planned 40, sent 40, completed 40, errors 0 (); 200: 40",
       "40 connections, 40 read, 0 retried, 0 rewritten, 1 ms columns, 0 handshakes", 0, true},
      // Reset while a long request goes out: closed, the next one on a new connection.
      {"reset half sent", half, slow, kPlain,
       "planned 2, sent 2, completed 1, errors 1 (closed 1); 200: 1",
       "2 connections, 2 read, 0 retried, 0 rewritten, 0 handshakes"},
      // --retry-closed resends on a kept connection only (rules counted once).
      {"closed unanswered", resets, rule, kPlain,
       "planned 5, sent 5, completed 2, errors 3 (closed 3); 200: 2",
       "3 connections, 5 read, 0 retried, 5 rewritten, 0 handshakes"},
      {"closed unanswered, resent", resets, resend, kPlain,
       "planned 5, sent 5, completed 2, errors 3 (closed 3); 200: 2",
       "5 connections, 7 read, 2 retried, 5 rewritten, 0 handshakes"},
      // Columns from the schedule's 600 ms (under 256 of them) under --speed and --duration.
      {"at speed 2", spanned, fast, kPlain, "planned 2, sent 2, completed 2, errors 0 (); 200: 2",
       "1 connections, 2 read, 0 retried, 0 rewritten, 2 ms columns, 0 handshakes", 0, true},
      {"for 0.3 s", spanned, cut, kPlain, "planned 1, sent 1, completed 1, errors 0 (); 200: 1",
       "1 connections, 1 read, 0 retried, 0 rewritten, 2 ms columns, 0 handshakes", 0, true},
      {"at once", at_once, none, kPlain, "planned 2, sent 2, completed 2, errors 0 (); 200: 2",
       "2 connections, 2 read, 0 retried, 0 rewritten, 1 ms columns, 0 handshakes", 0, true},
      {"untrusted", shakes, quick, kStranger, "planned 3, sent 0, completed 0, errors 3 (tls 3)",
       "0 read, 0 retried, 0 rewritten, 0 handshakes; " + refused},
      {"no TLS", shakes, quick, kTlsToPlain, "planned 3, sent 0, completed 0, errors 3 (tls 3)",
       "0 read, 0 retried, 0 rewritten, 0 handshakes; no handshake within --timeout"},
      {"not checked", shakes, none, kUnchecked,
       "planned 3, sent 3, completed 3, errors 0 (); 200: 3",
       "2 connections, 3 read, 0 retried, 0 rewritten, 2 handshakes, sni svc.test, sni svc.test"},
      // A failed handshake leaves nothing for the thread's next TLS read.
      {"garbled", trickling, none, kTls, "planned 4, sent 2, completed 2, errors 2 (tls 2); 200: 2",
       "3 connections, 2 read, 0 retried, 0 rewritten, 1 handshakes; wrong version number", 0b110},
  };
  TlsFixture tls, other;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    bool plain_server = c.speech == kPlain || c.speech == kTlsToPlain;
    ScriptedServer server(plain_server ? nullptr : &tls.certificate);
    server.garbled_handshakes = c.garbled;
    std::string cacert = c.speech == kPlain                            ? ""
                         : c.speech == kTls || c.speech == kTlsToPlain ? tls.cacert
                                                                       : other.cacert;
    ReplayRun r = replay_users(c.users, server.port, c.o, cacert, c.speech != kUnchecked);
    EXPECT_EQ(counts_line(r.stats), c.counts);
    std::string more = outcome(r, server, c.columns);
    EXPECT_EQ(c.garbled ? more.substr(0, c.more.size()) : more, c.more);
    EXPECT_TRUE(c.what != std::string("at once") || r.stats.planned_span_s == 0);  // no length
  }
}

TEST(ReplayEngine, CountsEachShapeOfAnswerAndGoesOnWithTheUser) {
  std::vector<TestUser> users;
  uint64_t id = 1;
  for (const char *first :
       {"chunked", "close", "reset", "garbage", "silent", "plain", "trickle", "cut short",
        "unsized", "unsized, then reset", "status 001" /* no status: a parse error */, "interim"})
    users.push_back({id++, 0, {{0, 0, first}, {50, 1, "<after/>"}}});
  users.push_back({id, 0, {{0, 0, "<head/>", "HEAD /h HTTP/1.1"}, {50, 1, "<after/>"}}});
  TlsFixture tls;
  for (int threads : {1, 3, -3}) {
    ScriptedServer server(threads < 0 ? &tls.certificate : nullptr);
    ReplayStats s =
        ok(replay_users(users, server.port, {.timeout_ms = 300, .threads = abs(threads)},
                        threads < 0 ? tls.cacert : ""));
    // Reset: cut short, unsized then reset; closed: reset; parse: garbage, 001.
    EXPECT_EQ(counts_line(s),
              "planned 26, sent 26, completed 20, errors 6 (reset 2, timeout 1, parse 2, closed "
              "1); 200: 19, 201: 1")
        << threads;
    EXPECT_EQ(std::make_tuple(s.pages.at(0).counts.errors, s.pages.at(1).counts.completed,
                              s.workers[0].counts.completed, s.latency_ns.total, s.lag_ns.total),
              std::make_tuple(6u, 13u, 20u, 20u, 26u));
  }
}

TEST(ReplayEngine, ConnectionsPerUserLetRequestsOverlap) {
  for (int n : {1, 3}) {
    ScriptedServer server;
    ReplayStats s =
        ok(replay_users({{1, 0, {{0, 0, "slow 1"}, {0, 0, "slow 2"}, {0, 0, "slow 3"}}}},
                        server.port, {.connections_per_user = n}));
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_GE(got[2].at_ns - got[0].at_ns, n == 1 ? 600000000 : 0);
    EXPECT_EQ(std::make_tuple(s.counts.completed, server.connections.load(), s.max_in_flight,
                              s.timeline.columns.at(0).planned),
              std::make_tuple(3ul, n, static_cast<uint64_t>(n), 3ul));
  }
  // Room to overlap sends nothing early.
  ScriptedServer server;
  ReplayStats s = ok(replay_users({{1, 0, {{0, 0, "a"}, {200, 0, "b"}, {400, 0, "c"}}}},
                                  server.port, {.connections_per_user = 2}));
  std::vector<Received> got = server.received();
  ASSERT_EQ(got.size(), 3u);
  for (int64_t i : {1, 2}) EXPECT_GE(got[i].at_ns - got[0].at_ns, i * 190000000) << i;
  EXPECT_NEAR(s.planned_span_s, 0.4, 0.01);
  EXPECT_TRUE(s.send_span_s >= 0.39 && s.send_span_s < 1.0) << s.send_span_s;
}

// At the --duration the silent answer is awaited asleep; the run starts now; nothing is left open.
TEST(ReplayEngine, StopsSendingAtTheDurationAndWaitsWithoutSpinning) {
  ScriptedServer server;
  long descriptors = vt_open_descriptors();
  timespec before, after;
  rusage cpu_before, cpu_after;
  clock_gettime(CLOCK_REALTIME, &before);
  getrusage(RUSAGE_THREAD, &cpu_before);
  ReplayStats s =
      ok(replay_users({{1, 0, {{0, 0, "a"}, {100, 0, "b"}, {2000, 0, "c"}}},
                       {2, 0, {{50, 0, "d"}, {3000, 0, "e"}}},
                       {3, 0, {{0, 0, "silent"}}}},
                      server.port, {.speed = 2, .duration_s = 0.5, .timeout_ms = 1500}));
  getrusage(RUSAGE_THREAD, &cpu_after);
  clock_gettime(CLOCK_REALTIME, &after);
  EXPECT_EQ(s.stopped_by, "duration");
  EXPECT_EQ(counts_line(s), "planned 4, sent 4, completed 3, errors 1 (timeout 1); 200: 3");
  auto cpu_us = [](const rusage &u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000 + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
  };
  EXPECT_LT(cpu_us(cpu_after) - cpu_us(cpu_before), 250000);
  EXPECT_GE(s.start_unix_us, before.tv_sec * 1000000 + before.tv_nsec / 1000 - 1);
  EXPECT_LE(s.start_unix_us, after.tv_sec * 1000000 + after.tv_nsec / 1000 - 1500000 + 1);
  ASSERT_TRUE(server.wait_until([&] { return server.serving == 0; }));
  EXPECT_EQ(vt_open_descriptors(), descriptors);
}

// An index cut short under the run ends it, sending or stopped by the duration.
TEST(ReplayEngine, AnIndexCutShortDuringTheRunEndsIt) {
  for (bool stopped : {false, true}) {
    SCOPED_TRACE(stopped ? "stopped by the duration" : "sending");
    TestDir d;
    TestUser u{1, 0, {{0, 0, stopped ? "silent" : "a"}}};
    for (uint64_t k = 0; k < 400; k++) u.requests.push_back({300 + k / 2, 0});  // 6 KB of groups
    write_test_package(d.path, 1, {u});
    ScriptedServer server;
    ReplayOptions o =
        stopped ? ReplayOptions{.duration_s = 0.5, .timeout_ms = 700} : ReplayOptions{};
    ReplayRun r;
    std::thread run([&] { r = replay(d.path, server.port, o); });
    EXPECT_TRUE(server.wait_until([&] { return !server.got.empty(); }));
    std::ofstream(d.path + "/vt_index_0", std::ios::binary) << "#user_id\n";
    run.join();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, d.path + "/vt_index_0 changed while it was replayed");
  }
}

// Results reach the disk 256 KB at a time, long before the end (an interrupt).
TEST(ReplayEngine, ResultsReachTheFileAsTheRunGoes) {
  TestDir d;
  std::vector<TestUser> users;
  for (uint64_t id = 1; id <= 20; id++) {
    users.push_back({id, 0, {}});
    for (uint64_t ms = 0; ms < 90; ms++) users.back().requests.push_back({ms, 0});
  }
  users.push_back({21, 0, {{60000, 0}}});
  write_test_package(d.path, 1, users);
  ScriptedServer server;
  ReplayResultsFile results;
  std::string error, path = d.path + "/r.jsonl";
  ASSERT_TRUE(open_results_file(path, &results, &error)) << error;
  int stop[2];
  ASSERT_EQ(pipe2(stop, O_CLOEXEC), 0);
  ReplayRun r;
  std::thread run([&] {
    r = replay(d.path, server.port, {}, "", true, {.stop_fd = stop[0], .results = &results});
  });
  EXPECT_TRUE(server.wait_until([&] { return server.got.size() >= 1800; }));
  off_t written = 0;
  for (int i = 0; i < 2000 && written == 0; i++, usleep(10000))
    written = static_cast<off_t>(std::filesystem::file_size(path));
  EXPECT_TRUE(written >= 256 * 1024 && written < 2 * 256 * 1024) << written;
  ASSERT_EQ(write(stop[1], "x", 1), 1);
  run.join();
  close(stop[0]);
  close(stop[1]);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_TRUE(close_results_file(&results, &error)) << error;
  EXPECT_EQ(r.stats.stopped_by, "interrupt");
  std::ifstream in(path);
  EXPECT_EQ(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'),
            1800);
}

// A connect refused, and one never answered (a full queue) failed at the timeout.
TEST(ReplayEngine, ConnectsRefusedOrNeverAnsweredAreConnectErrors) {
  TestDir d;
  write_test_package(d.path, 1, {{1, 0, {{0, 0, "a"}, {300, 0, "b"}}}});
  int refused = ScriptedServer().port, full, listener = test_listener(0, &full);
  int queued = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // fills the queue
  sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(full)), {htonl(INADDR_LOOPBACK)}, {}};
  ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  ReplayOptions o{.timeout_ms = 300};
  for (auto [port, wait_ms] : {std::pair{refused, 0u}, {full, 300u}}) {
    SCOPED_TRACE(wait_ms);
    int64_t start = test_now_ns();
    ReplayStats s = ok(replay(d.path, port, o));
    EXPECT_EQ(counts_line(s), "planned 2, sent 0, completed 0, errors 2 (connect 2)");
    EXPECT_EQ(s.bytes_sent + s.bytes_received, 0u);
    EXPECT_LT(test_now_ns() - start, 10000000000);
    std::vector<uint64_t> failed_at_ms;
    const ReplayTimeline &t = s.timeline;
    for (size_t c = 0; c < t.columns.size(); c++)
      for (uint64_t k = 0; k < t.columns[c].failed; k++) failed_at_ms.push_back(c * t.column_ms);
    ASSERT_EQ(failed_at_ms.size(), 2u);
    EXPECT_LT(failed_at_ms[0], 300 + wait_ms);
    EXPECT_GE(failed_at_ms[1] + t.column_ms, 300 + wait_ms);
  }
  // Stopped while its connection opens: planned, no error.
  o.duration_s = 0.15;
  ReplayStats s = ok(replay(d.path, full, o));
  EXPECT_EQ(s.stopped_by, "duration");
  EXPECT_EQ(counts_line(s), "planned 1, sent 0, completed 0, errors 0 ()");
  close(queued);
  close(listener);
}

TEST(ReplayEngine, RewritesTheHeadOfEveryRequestAndNeverItsBody) {
  // A body that looks like headers; a head and a body past a TLS record and the sockets.
  std::string fake = "Host: inside\r\nX-Old: inside\r\n\r\n", large(12 << 20, 'b');
  for (size_t i = 0; i < large.size(); i += 997) large[i] = static_cast<char>('a' + i % 26);
  std::string big_header = "X-Big: " + std::string(20000, 'h') + "\r\n";
  TestDir d;
  TestUser u{1,
             0,
             {{0, 0, fake, "POST /a HTTP/1.1", "X-Old: a\r\n  continued\r\nx-old: b\r\n"},
              {10, 1, large, "PUT /b HTTP/1.1", "Accept: */*\r\n" + big_header},
              {20, 2, "", "GET /c HTTP/1.1", ""}}};
  write_test_package(d.path, 1, {u});
  ReplayOptions o{.headers = rules_of({"X-Old:", "X-New: 1", "accept: text/xml"})};
  std::string error;
  ReplayHeaderRule host;
  ASSERT_TRUE(host_header_rule("staging.example:8443", &host, &error));
  add_header_rule(&o.headers, host);
  const std::string want[] = {
      "POST /a HTTP/1.1\r\nHost: staging.example:8443\r\nContent-Length: " +
          std::to_string(fake.size()) + "\r\nX-New: 1\r\naccept: text/xml\r\n\r\n" + fake,
      "PUT /b HTTP/1.1\r\nHost: staging.example:8443\r\naccept: text/xml\r\n" + big_header +
          "Content-Length: " + std::to_string(large.size()) + "\r\nX-New: 1\r\n\r\n" + large,
      "GET /c HTTP/1.1\r\nHost: staging.example:8443\r\nContent-Length: 0\r\nX-New: 1\r\n"
      "accept: text/xml\r\n\r\n"};
  TlsFixture tls;
  for (bool over_tls : {false, true}) {
    SCOPED_TRACE(over_tls ? "TLS" : "plain");
    ScriptedServer server(over_tls ? &tls.certificate : nullptr);
    ReplayStats s = ok(replay(d.path, server.port, o, over_tls ? tls.cacert : ""));
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < 3; i++)
      EXPECT_TRUE(got[i].request == want[i]) << got[i].request.substr(0, 200);
    std::string tallies;
    for (const ReplayRewriteTally &t : s.rewrites)
      tallies += std::to_string(t.removed) + "/" + std::to_string(t.added) + "/" +
                 std::to_string(t.replaced) + " ";
    EXPECT_EQ(tallies, "1/0/0 0/3/0 0/2/1 0/0/3 ");
  }
  // An entry whose head does not end cannot be rewritten.
  TestDir broken;
  write_test_package(broken.path, 2, {{1, 0, {{0, 0}}}, {2, 1, {{5, 0}, {10, 0}}}});
  {
    std::fstream req(broken.path + "/vt_req_1", std::ios::in | std::ios::out | std::ios::binary);
    std::string entry = test_entry_request({});  // the second one's empty line goes
    req.seekp(static_cast<std::streamoff>(entry.size() + 1 + entry.find("\r\n\r\n") + 2));
    req << "XX";
  }
  ScriptedServer server;
  ReplayRun r = replay(broken.path, server.port, o);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "vt_req_1 offset " + std::to_string(test_entry_request({}).size() + 1) +
                         ": the entry's head does not end (empty line) within its first 65536 "
                         "bytes; --host and --header need it");
}

// --rewrite-path: the first matching rule, every other byte as kept, a header rule or not.
TEST(ReplayEngine, RewritesPathsByTheFirstMatchingRule) {
  const std::pair<std::string, std::string> cases[] = {
      {"POST /old/deep/a?q=/old/ HTTP/1.1", "POST /d/a?q=/old/ HTTP/1.1"},  // rule 0 before 1
      {"POST /old/b HTTP/1.1", "POST /new/b HTTP/1.1"},
      {"GET /old/ HTTP/1.0", "GET /new/ HTTP/1.0"},
      {"POST /olden HTTP/1.1", "POST /olden HTTP/1.1"},  // a prefix of bytes: "/old/" is not
      {"POST /svc/old/x HTTP/1.1", "POST /svc/old/x HTTP/1.1"},
      {"POST http://h:81/old/c HTTP/1.1", "POST http://h:81/new/c HTTP/1.1"},
      {"POST http://h:81 HTTP/1.1", "POST http://h:81 HTTP/1.1"},
      {"POST /ol HTTP/1.1", "POST /ol HTTP/1.1"},  // shorter than every FROM
      {"OPTIONS * HTTP/1.1", "OPTIONS * HTTP/1.1"},
  };
  TestUser user;
  for (size_t i = 0; i < std::size(cases); i++)
    user.requests.push_back({i, 0, "<b>" + std::to_string(i) + "</b>", cases[i].first});
  TestDir dir;
  write_test_package(dir.path, 1, {user});
  for (bool with_header : {false, true}) {
    SCOPED_TRACE(with_header ? "with --header" : "alone");
    ReplayOptions o{.paths = {{"/old/deep/", "/d/"}, {"/old/", "/new/"}, {"/old/b", "/never/"}}};
    if (with_header) o.headers = {{"X-Run", "7"}};
    ScriptedServer server;
    ReplayStats s = ok(replay(dir.path, server.port, o));
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); i++) {
      TestRequest sent = user.requests[i];
      sent.request_line = cases[i].second;
      std::string want = test_entry_request(sent);
      if (with_header) want.insert(want.find("\r\n\r\n") + 2, "X-Run: 7\r\n");
      EXPECT_EQ(got[i].request, want) << cases[i].first;
    }
    EXPECT_EQ(s.path_rewrites, (std::vector<uint64_t>{1, 3, 0}));
  }
}

// A request file cut short or unreadable (EINTR: read again): that request alone fails, unsent.
TEST(ReplayEngine, ARequestFileCutShortOrUnreadableFailsTheRequestItLost) {
  TestDir d;
  write_test_package(d.path, 1,
                     {{1, 0, {{0, 0, "<a/>"}, {50, 0, "<b/>"}}}, {2, 0, {{20, 0, "<c/>"}}}});
  const std::string req = d.path + "/vt_req_0";
  const off_t whole = static_cast<off_t>(std::filesystem::file_size(req));
  TlsFixture tls;
  for (auto [over_tls, fail, completed] :
       {std::tuple{false, 0, 2ul}, {true, 0, 2ul}, {true, EINTR, 3ul}, {true, EIO, 2ul}}) {
    SCOPED_TRACE(std::string(over_tls ? "TLS " : "plain ") + (fail ? strerror(fail) : "cut"));
    ScriptedServer server(over_tls ? &tls.certificate : nullptr);
    vt_fail_pread_of("/vt_req_0", fail, fail ? 1 : 0);
    int64_t start = 0;
    ReplayRun r = replay(d.path, server.port, {.timeout_ms = 5000}, over_tls ? tls.cacert : "",
                         true, {}, [&, fail = fail] {
                           EXPECT_EQ(fail ? 0 : truncate(req.c_str(), whole - 2), 0);
                           start = test_now_ns();
                         });
    int failed = vt_failed_preads();
    vt_fail_pread_of("", 0, 0);
    ASSERT_EQ(truncate(req.c_str(), whole), 0);
    EXPECT_LT(test_now_ns() - start, 2000000000);  // well within the time limit
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(std::make_tuple(failed, r.stats.counts.completed, r.stats.errors[kErrorReset]),
              std::make_tuple(fail ? 1 : 0, completed, 3 - completed));
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), completed);
    for (const Received &g : got) EXPECT_EQ(body_of(g.request).size(), 4u) << g.request;
  }
}

}  // namespace
