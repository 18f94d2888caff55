// The replay engine against the scripted server of replay_test_server.h on
// 127.0.0.1, plain and TLS: bytes, order and times per user, connections,
// answers of every shape, statuses, rewrites and handshakes.
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

// Over TLS when `cacert` names the certificate to trust (`verify` false: not
// checked, for the name svc.test); `opened` runs between the package's
// opening and the run.
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

// The users written as a package of one worker, replayed.
ReplayRun replay_users(const std::vector<TestUser> &users, int port, ReplayOptions o = {},
                       const std::string &cacert = "") {
  TestDir d;
  write_test_package(d.path, 1, users);
  return replay(d.path, port, o, cacert);
}

ReplayOptions with_timeout(int ms) {
  ReplayOptions o;
  o.timeout_ms = ms;
  return o;
}

// A certificate made once for the TLS cases, in a directory of its own.
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
  // User u's n-th entry, at time t, with its request line and headers.
  auto entry = [](int u, int n, uint64_t t, const char *line = "POST /svc/p HTTP/1.1",
                  const char *headers = "") {
    return TestRequest{t, n, "<u" + std::to_string(u) + " n=" + std::to_string(n) + "/>", line,
                       headers};
  };
  const char *keep = "connection:  Keep-Alive\r\n", *k10 = "POST /k HTTP/1.0",
             *old = "POST /o HTTP/1.0";
  std::vector<TestUser> users = {
      {1, 0, {entry(1, 0, 0), entry(1, 1, 120), entry(1, 2, 130)}},
      // HTTP/1.0 asking to keep its connection (in any case) keeps it.
      {2, 1, {entry(2, 0, 40, k10, keep), entry(2, 1, 300, k10, keep)}},
      {3, 0, {entry(3, 0, 60, old), entry(3, 1, 200, old)}},
      // Request lines shorter than " HTTP/1.0" go out as they are, on a kept
      // connection (its handshake apart from the others' in time).
      {4,
       1,
       {entry(4, 0, 150, "POST /a"), entry(4, 1, 160, "HTTP/1.0"), entry(4, 2, 170, "GET /a")}},
  };
  // (An entry larger than the buffer an entry is sent from.)
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
    ReplayRun r = replay(d.path, server.port, {}, over_tls ? tls.cacert : "");
    ASSERT_TRUE(r.ok) << r.error;
    const ReplayStats &s = r.stats;
    // The client ends each connection, its exchange over.
    ASSERT_TRUE(server.wait_until([&] { return server.serving == 0; }));
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), 10u);
    // Every request arrived whole, unchanged, in its user's order and not
    // before its time (how soon after it is the lag's, measured by the
    // benchmark: a busy machine makes any bound here a matter of luck).
    std::map<char, std::set<int>> conns;  // per user
    std::map<char, int> next;
    for (const Received &g : got) {
      const TestRequest *q = by_body.at(body_of(g.request));
      EXPECT_EQ(g.request, test_entry_request(*q));
      EXPECT_GE(g.at_ns, s.start_ns + static_cast<int64_t>(q->time_ms) * 1000000) << q->body;
      EXPECT_EQ(q->body[6] - '0', next[q->body[2]]++) << q->body;
      conns[q->body[2]].insert(g.conn);
    }
    // HTTP/1.1 users keep their connection, each its own; the HTTP/1.0 one
    // opens one per request unless it asks for keep-alive.
    std::string per_user;
    for (const auto &[user, set] : conns)
      per_user += std::string(1, user) + ":" + std::to_string(set.size()) + " ";
    EXPECT_EQ(per_user, "1:1 2:1 3:2 4:1 ");
    EXPECT_EQ(server.connections, 5);
    // Each user's first connection is a full handshake, timed from its own
    // start to its end (more than nothing, far less than the run); the
    // HTTP/1.0 user's second one resumes its session. Each says goodbye.
    EXPECT_EQ(
        std::make_tuple(s.tls.handshakes, s.tls.resumed, server.resumed.load(),
                        s.tls.handshake_ns.total, server.goodbyes.load()),
        over_tls ? std::make_tuple(5ul, 1ul, 1, 5ul, 5) : std::make_tuple(0ul, 0ul, 0, 0ul, 0));
    EXPECT_TRUE(!over_tls || (s.tls.handshake_ns.min > 0 && s.tls.handshake_ns.max < 5000000000u));
    // The counts; the package times sent, first and last; HTTP bytes both
    // ways (TLS records aside): the entries, and 10 answers "ok".
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

// How a run against each kind of server ended beyond its counts: the
// connections the server took, the requests it read, retries, rewrites,
// the timeline's column (where the schedule alone sets it), handshakes, the
// names sent and the first TLS failure.
std::string outcome(const ReplayRun &r, ScriptedServer &server, bool columns) {
  const ReplayStats &s = r.stats;
  uint64_t rewrites = 0;
  for (const ReplayRewriteTally &t : s.rewrites) rewrites += t.replaced + t.added + t.removed;
  // (A connection that sent nothing the server read may still wait in its queue.)
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

// How the client speaks to the server: plain, TLS trusting the server's
// certificate, or another one, or not checking it; TLS to a plain server.
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
  const std::vector<TestUser> spanned = {{1, 0, {{0, 0, "a"}, {600, 0, "b"}}}};
  const std::vector<TestUser> shakes = {{1, 0, {{0, 0, "a"}, {10, 0, "b"}}}, {2, 0, {{5, 0, "c"}}}};
  const std::vector<TestUser> half = {{1, 0, {big, {100, 0, "<after/>"}}}};
  const std::vector<TestUser> trickling = {{1, 0, {{50, 0, "a"}, {100, 0, "b"}}},
                                           {2, 0, {{0, 0, "c"}, {300, 0, "trickle"}}}};
  ReplayOptions none, slow = with_timeout(5000), quick = with_timeout(300), rule, resend, fast, cut;
  std::string error;
  rule.headers.resize(1);
  ASSERT_TRUE(parse_header_rule("X-New: 1", &rule.headers[0], &error)) << error;
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
      // A connection the server closes with its answer, without saying so,
      // is not used again: the user's next request, 200 ms later, goes out
      // on a new connection. The package starts a minute into the capture:
      // the run spans its 200 ms, in columns of 1 ms.
      {"closed with the answer", closing, none, kPlain,
       "planned 40, sent 40, completed 40, errors 0 (); 200: 40",
       "40 connections, 40 read, 0 retried, 0 rewritten, 1 ms columns, 0 handshakes", 0, true},
      // Reset while a long request is still going out: it ends there,
      // closed before its answer, and the next one goes on a new connection.
      {"reset half sent", half, slow, kPlain,
       "planned 2, sent 2, completed 1, errors 1 (closed 1); 200: 1",
       "2 connections, 2 read, 0 retried, 0 rewritten, 0 handshakes"},
      // A kept connection closed under a request sent whole, before any byte
      // of its answer, fails it as "closed" (the server may have taken it);
      // --retry-closed sends it once more on a new connection (its header
      // rules counted once). A new connection closed (user 2's) is never retried.
      {"closed unanswered", resets, rule, kPlain,
       "planned 5, sent 5, completed 2, errors 3 (closed 3); 200: 2",
       "3 connections, 5 read, 0 retried, 5 rewritten, 0 handshakes"},
      {"closed unanswered, resent", resets, resend, kPlain,
       "planned 5, sent 5, completed 2, errors 3 (closed 3); 200: 2",
       "5 connections, 7 read, 2 retried, 5 rewritten, 0 handshakes"},
      // The timeline's columns follow from the schedule's length: 600 ms in
      // columns of 4 ms (fewer than 256 of them), at speed 2 in columns of
      // 2 ms, and a --duration of 0.3 s cuts it the same way.
      {"600 ms", spanned, none, kPlain, "planned 2, sent 2, completed 2, errors 0 (); 200: 2",
       "1 connections, 2 read, 0 retried, 0 rewritten, 4 ms columns, 0 handshakes", 0, true},
      {"at speed 2", spanned, fast, kPlain, "planned 2, sent 2, completed 2, errors 0 (); 200: 2",
       "1 connections, 2 read, 0 retried, 0 rewritten, 2 ms columns, 0 handshakes", 0, true},
      {"for 0.3 s", spanned, cut, kPlain, "planned 1, sent 1, completed 1, errors 0 (); 200: 1",
       "1 connections, 1 read, 0 retried, 0 rewritten, 2 ms columns, 0 handshakes", 0, true},
      // A certificate the client does not trust; a server that speaks no TLS.
      {"untrusted", shakes, quick, kStranger, "planned 3, sent 0, completed 0, errors 3 (tls 3)",
       "0 read, 0 retried, 0 rewritten, 0 handshakes; " + refused},
      {"no TLS", shakes, quick, kTlsToPlain, "planned 3, sent 0, completed 0, errors 3 (tls 3)",
       "0 read, 0 retried, 0 rewritten, 0 handshakes; no handshake within --timeout"},
      {"not checked", shakes, none, kUnchecked,
       "planned 3, sent 3, completed 3, errors 0 (); 200: 3",
       "2 connections, 3 read, 0 retried, 0 rewritten, 2 handshakes, sni svc.test, sni svc.test"},
      // A failed handshake leaves nothing behind for the thread's next TLS
      // call: here the read of an answer that comes a byte at a time, on a
      // connection made before (the first failure's reason is read, the
      // second's is not).
      {"garbled", trickling, none, kTls, "planned 4, sent 2, completed 2, errors 2 (tls 2); 200: 2",
       "3 connections, 2 read, 0 retried, 0 rewritten, 1 handshakes; wrong version number", 0b110},
  };
  TlsFixture tls, other;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    bool plain_server = c.speech == kPlain || c.speech == kTlsToPlain;
    ScriptedServer server(plain_server ? nullptr : &tls.certificate);
    server.garbled_handshakes = c.garbled;
    TestDir d;
    write_test_package(d.path, 1, c.users);
    std::string cacert = c.speech == kPlain                            ? ""
                         : c.speech == kTls || c.speech == kTlsToPlain ? tls.cacert
                                                                       : other.cacert;
    ReplayRun r = replay(d.path, server.port, c.o, cacert, c.speech != kUnchecked);
    EXPECT_EQ(counts_line(r.stats), c.counts);
    std::string more = outcome(r, server, c.columns);
    EXPECT_EQ(c.garbled ? more.substr(0, c.more.size()) : more, c.more);
  }
  // A schedule all due at once has no length: columns of 1 ms, no planned span.
  ScriptedServer server;
  ReplayRun r = replay_users({{1, 0, {{0, 0, "a"}}}, {2, 0, {{0, 0, "b"}}}}, server.port);
  EXPECT_EQ(
      std::make_tuple(r.stats.timeline.column_ms, r.stats.planned_span_s, r.stats.send_span_s > 0),
      std::make_tuple(1ul, 0.0, true));
}

TEST(ReplayEngine, CountsEachShapeOfAnswerAndGoesOnWithTheUser) {
  std::vector<TestUser> users;
  uint64_t id = 1;
  for (const char *first :
       {"chunked", "close", "reset", "garbage", "silent", "plain", "trickle", "cut short",
        "unsized", "unsized, then reset", "status 001" /* no status: a parse error */, "interim"})
    users.push_back({id++, 0, {{0, 0, first}, {50, 1, "<after/>"}}});
  // An answer to HEAD has no body, whatever its length says.
  users.push_back({id, 0, {{0, 0, "<head/>", "HEAD /h HTTP/1.1"}, {50, 1, "<after/>"}}});
  TestDir d;
  write_test_package(d.path, 1, users);
  // One thread, and three that share the users and add up their counts;
  // plain and TLS.
  TlsFixture tls;
  for (int threads : {1, 3, -3}) {
    ScriptedServer server(threads < 0 ? &tls.certificate : nullptr);
    ReplayOptions o = with_timeout(300);
    o.threads = abs(threads);
    ReplayRun r = replay(d.path, server.port, o, threads < 0 ? tls.cacert : "");
    ASSERT_TRUE(r.ok) << r.error;
    const ReplayStats &s = r.stats;
    // Answered: chunked, close, plain, trickle, head, unsized, interim (its
    // interim answers not counted) and every second request. Reset: an
    // answer cut short by the close, one without a length that a reset
    // ended; closed: the reset before any answer byte; parse: garbage, 001.
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
  TestDir d;
  write_test_package(d.path, 1, {{1, 0, {{0, 0, "slow 1"}, {0, 0, "slow 2"}, {0, 0, "slow 3"}}}});
  for (int n : {1, 3}) {
    ScriptedServer server;
    ReplayRun r = replay(d.path, server.port, {.connections_per_user = n});
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), 3u);
    // One at a time, each request waits for the answer before it; three in
    // flight at once, on three connections. All three are due at 0, in the
    // first column however wide.
    EXPECT_GE(got[2].at_ns - got[0].at_ns, n == 1 ? 600000000 : 0);
    EXPECT_EQ(std::make_tuple(r.stats.counts.completed, server.connections.load(),
                              r.stats.max_in_flight, r.stats.timeline.columns.at(0).planned),
              std::make_tuple(3ul, n, static_cast<uint64_t>(n), 3ul));
  }
  // Room to overlap sends nothing early: with each answer back before the
  // next request is due, every request still leaves at its own time, once.
  ScriptedServer server;
  ReplayRun r = replay_users({{1, 0, {{0, 0, "a"}, {200, 0, "b"}, {400, 0, "c"}}}}, server.port,
                             {.connections_per_user = 2});
  ASSERT_TRUE(r.ok) << r.error;
  std::vector<Received> got = server.received();
  ASSERT_EQ(got.size(), 3u);
  for (int64_t i : {1, 2}) EXPECT_GE(got[i].at_ns - got[0].at_ns, i * 190000000) << i;
  // The planned and the sending spans both run from time 0 to the last.
  EXPECT_NEAR(r.stats.planned_span_s, 0.4, 0.01);
  EXPECT_TRUE(r.stats.send_span_s >= 0.39 && r.stats.send_span_s < 1.0) << r.stats.send_span_s;
}

// At the --duration the sending stops (at speed 2, c and e are due after
// it) and the silent answer is awaited until its timeout, asleep, not
// spinning on what falls due meanwhile (the run is in this thread). Given
// no start, the run starts now and says when; its connections are closed.
TEST(ReplayEngine, StopsSendingAtTheDurationAndWaitsWithoutSpinning) {
  ScriptedServer server;
  long descriptors = vt_open_descriptors();
  timespec before, after;
  rusage cpu_before, cpu_after;
  clock_gettime(CLOCK_REALTIME, &before);
  getrusage(RUSAGE_THREAD, &cpu_before);
  ReplayRun r = replay_users({{1, 0, {{0, 0, "a"}, {100, 0, "b"}, {2000, 0, "c"}}},
                              {2, 0, {{50, 0, "d"}, {3000, 0, "e"}}},
                              {3, 0, {{0, 0, "silent"}}}},
                             server.port, {.speed = 2, .duration_s = 0.5, .timeout_ms = 1500});
  getrusage(RUSAGE_THREAD, &cpu_after);
  clock_gettime(CLOCK_REALTIME, &after);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.stats.stopped_by, "duration");
  EXPECT_EQ(counts_line(r.stats), "planned 4, sent 4, completed 3, errors 1 (timeout 1); 200: 3");
  auto cpu_us = [](const rusage &u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000 + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
  };
  EXPECT_LT(cpu_us(cpu_after) - cpu_us(cpu_before), 250000);
  EXPECT_GE(r.stats.start_unix_us, before.tv_sec * 1000000 + before.tv_nsec / 1000 - 1);
  EXPECT_LE(r.stats.start_unix_us, after.tv_sec * 1000000 + after.tv_nsec / 1000 - 1500000 + 1);
  ASSERT_TRUE(server.wait_idle());
  EXPECT_EQ(vt_open_descriptors(), descriptors);
}

// The index is read again in blocks of up to 4 KB as its groups go out: one
// cut short meanwhile ends the run naming it, whether the group read is to
// be sent or only counted as due at the --duration's stop.
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
    // The first request is out, and the first block read with it.
    EXPECT_TRUE(server.wait_until([&] { return !server.got.empty(); }));
    std::ofstream(d.path + "/vt_index_0", std::ios::binary) << "#user_id\n";
    run.join();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, d.path + "/vt_index_0 changed while it was replayed");
  }
}

// Each sending thread writes its results 256 KB at a time as the run goes
// on: some 1,800 lines are on the disk long before the last request is due
// (an interrupt then ends the run), and the rest at the end.
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
  ReplayRunContext ctx;
  ctx.stop_fd = stop[0];
  ctx.results = &results;
  ReplayRun r;
  std::thread run([&] { r = replay(d.path, server.port, {}, "", true, ctx); });
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

// A connect refused, and one never answered: a server whose queue of
// connections is full drops the next ones' first packet, and such a connect
// fails at the request timeout, not at the system's own (minutes later).
TEST(ReplayEngine, ConnectsRefusedOrNeverAnsweredAreConnectErrors) {
  TestDir d;
  write_test_package(d.path, 1, {{1, 0, {{0, 0, "a"}, {300, 0, "b"}}}});
  int refused = ScriptedServer().port;
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&a), len), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len), 0);
  int queued = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // fills the queue
  ASSERT_EQ(connect(queued, reinterpret_cast<sockaddr *>(&a), len), 0);
  ReplayOptions o = with_timeout(300);
  for (auto [port, wait_ms] : {std::pair{refused, 0u}, {int{ntohs(a.sin_port)}, 300u}}) {
    SCOPED_TRACE(wait_ms);
    int64_t start = test_now_ns();
    ReplayRun r = replay(d.path, port, o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(counts_line(r.stats), "planned 2, sent 0, completed 0, errors 2 (connect 2)");
    EXPECT_EQ(r.stats.bytes_sent + r.stats.bytes_received, 0u);
    EXPECT_LT(test_now_ns() - start, 10000000000);
    // Unsent, each failure falls in the timeline's column of the time it failed.
    std::vector<uint64_t> failed_at_ms;
    const ReplayTimeline &t = r.stats.timeline;
    for (size_t c = 0; c < t.columns.size(); c++)
      for (uint64_t k = 0; k < t.columns[c].failed; k++) failed_at_ms.push_back(c * t.column_ms);
    ASSERT_EQ(failed_at_ms.size(), 2u);
    EXPECT_LT(failed_at_ms[0], 300 + wait_ms);
    EXPECT_GE(failed_at_ms[1] + t.column_ms, 300 + wait_ms);
  }
  // Stopped while its connection still opens, a request was never sent: it
  // is planned, and no error.
  o.duration_s = 0.15;
  ReplayRun r = replay(d.path, ntohs(a.sin_port), o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.stats.stopped_by, "duration");
  EXPECT_EQ(counts_line(r.stats), "planned 1, sent 0, completed 0, errors 0 ()");
  close(queued);
  close(listener);
}

TEST(ReplayEngine, RewritesTheHeadOfEveryRequestAndNeverItsBody) {
  // A body that looks like headers, and one larger than a TLS record, than
  // the buffer the head is read into and than what the sockets hold, so
  // that its sending waits for the server to read; its head is larger than a
  // TLS record too. And a request that is all head.
  std::string fake = "Host: inside\r\nX-Old: inside\r\n\r\n", large(12 << 20, 'b');
  for (size_t i = 0; i < large.size(); i += 997) large[i] = static_cast<char>('a' + i % 26);
  std::string big_header = "X-Big: " + std::string(20000, 'h') + "\r\n";
  TestDir d;
  write_test_package(d.path, 1,
                     {{1,
                       0,
                       {{0, 0, fake, "POST /a HTTP/1.1", "X-Old: a\r\n  continued\r\nx-old: b\r\n"},
                        {10, 1, large, "PUT /b HTTP/1.1", "Accept: */*\r\n" + big_header},
                        {20, 2, "", "GET /c HTTP/1.1", ""}}}});
  ReplayOptions o;
  std::string error;
  for (const char *rule : {"X-Old:", "X-New: 1", "accept: text/xml"}) {
    ReplayHeaderRule r;
    ASSERT_TRUE(parse_header_rule(rule, &r, &error)) << error;
    add_header_rule(&o.headers, r);
  }
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
    ReplayRun r = replay(d.path, server.port, o, over_tls ? tls.cacert : "");
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<Received> got = server.received();
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < 3; i++)
      EXPECT_TRUE(got[i].request == want[i]) << got[i].request.substr(0, 200);
    // Per rule, in the order given: removed, added, replaced once, Host replaced.
    std::string tallies;
    for (const ReplayRewriteTally &t : r.stats.rewrites)
      tallies += std::to_string(t.removed) + "/" + std::to_string(t.added) + "/" +
                 std::to_string(t.replaced) + " ";
    EXPECT_EQ(tallies, "1/0/0 0/3/0 0/2/1 0/0/3 ");
  }
  // An entry whose head does not end cannot be rewritten: the run fails
  // and says where.
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

// A request file cut short after the package was opened (it changed under
// the run), or whose read fails (over TLS the request is read from it into
// records; a read cut short by a signal is made again): the request it lost
// fails alone, at once, as a reset, before any of it goes out.
TEST(ReplayEngine, ARequestFileCutShortOrUnreadableFailsTheRequestItLost) {
  TestDir d;
  write_test_package(d.path, 1,
                     {{1, 0, {{0, 0, "<a/>"}, {50, 0, "<b/>"}}}, {2, 0, {{20, 0, "<c/>"}}}});
  const std::string req = d.path + "/vt_req_0";
  const off_t whole = static_cast<off_t>(std::filesystem::file_size(req));
  TlsFixture tls;
  // fail: the error of the first read; 0: the file loses the end of <c/>.
  for (auto [over_tls, fail, completed] :
       {std::tuple{false, 0, 2ul}, {true, 0, 2ul}, {true, EINTR, 3ul}, {true, EIO, 2ul}}) {
    SCOPED_TRACE(std::string(over_tls ? "TLS " : "plain ") + (fail ? strerror(fail) : "cut"));
    ScriptedServer server(over_tls ? &tls.certificate : nullptr);
    vt_fail_pread_of("/vt_req_0", fail, fail ? 1 : 0);
    int64_t start = 0;
    ReplayRun r = replay(d.path, server.port, with_timeout(5000), over_tls ? tls.cacert : "", true,
                         {}, [&, fail = fail] {
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
