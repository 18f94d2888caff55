// The options of vt_replay and their values (header rules, status lists, thresholds, load modes).
#include "tools/replay/replay_options.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <tuple>
#include <vector>

#include "base/figures/replay_thresholds.h"
#include "tools/replay/replay_engine.h"
#include "tools/replay/replay_modes.h"
#include "tools/replay/replay_rewrite.h"
#include "tools/replay/replay_test_support.h"

namespace {

// args after "vt_replay", or after "vt_replay pkg --target 127.0.0.1:1" if led by another option.
ReplayCommand parse(std::vector<const char *> args, ReplayOptions *o, std::string *error) {
  if (args[0][0] == '-' && std::string(args[0]) != "--target")
    args.insert(args.begin(), {"pkg", "--target", "127.0.0.1:1"});
  args.insert(args.begin(), "vt_replay");
  return parse_replay_options(static_cast<int>(args.size()), const_cast<char **>(args.data()), o,
                              error);
}

std::string summary(const ReplayOptions &o) {
  char text[512];
  snprintf(text, sizeof text,
           "%s %s w=%zu/%d s=%g d=%g c=%d t=%d th=%d %s|%s|%s %d/%d at=%ld q%d r%d %s|%s|%d",
           o.dir.c_str(), replay_target_text(o.target).c_str(), o.workers.size(),
           o.workers.empty() ? -1 : o.workers.back(), o.speed, o.duration_s, o.connections_per_user,
           o.timeout_ms, o.threads, o.json_path.c_str(), o.results_path.c_str(),
           o.html_path.c_str(), o.shard.index, o.shard.count, static_cast<long>(o.start_at_unix_us),
           o.quiet, o.retry_closed, replay_tls_name(o).c_str(), o.cacert.c_str(), o.insecure);
  std::string out = text;
  for (const ReplayHeaderRule &r : o.headers)
    out += " H" + r.name + (r.remove ? "-" : "=" + r.value);
  for (const ReplayThreshold &t : o.thresholds)
    out += " T" + t.text + "@" + std::to_string(t.percentile) + "<" + std::to_string(t.limit);
  return out + " ok" + o.ok_status.text;
}

TEST(ReplayOptions, ReadsEveryOption) {
  struct Case {
    std::vector<const char *> args;
    const char *read;
  };
  const Case cases[] = {
      {{"pkg", "--target", "127.0.0.1:8080", "--workers=3,0-1,7,1", "--speed", "2.5", "--duration",
        "30", "--connections-per-user", "4", "--timeout=250", "--json", "r.json", "--quiet"},
       "pkg 127.0.0.1:8080 w=4/7 s=2.5 d=30 c=4 t=250 th=1 r.json|| 0/1 at=0 q1 r0 127.0.0.1||0 "
       "ok2xx,3xx"},
      // The upper bounds are taken; a later --workers replaces an earlier one.
      {{"--speed", "1e9", "--duration", "1e7", "--connections-per-user", "64", "--timeout",
        "3600000", "--threads", "64", "--workers", "5", "--workers", "2-3", "--retry-closed"},
       "pkg 127.0.0.1:1 w=2/3 s=1e+09 d=1e+07 c=64 t=3600000 th=64 || 0/1 at=0 q0 r1 127.0.0.1||0 "
       "ok2xx,3xx"},
      // One rule per header name, the later value in the earlier place.
      {{"pkg", "--target", "https://h.example", "--sni=sni.example", "--cacert=ca.pem",
        "--host=staging:8080", "--header=X-A: 1", "--header", "x-a:  2 ", "--header=Cookie:",
        "--ok-status=200,3xx", "--max-failed=1%", "--max-latency=p99.9=250", "--max-lag=max=5",
        "--shard=1/3", "--start-at=1795000000", "--results=r.csv", "--html=r.html"},
       "pkg https://h.example:443 w=0/-1 s=1 d=0 c=1 t=10000 th=1 |r.csv|r.html 1/3 "
       "at=1795000000000000 q0 r0 sni.example|ca.pem|0 HHost=staging:8080 Hx-a=2 HCookie- "
       "Tmax-failed 1%@0.000000<0.010000 Tmax-latency p99.9=250@99.900000<250.000000 "
       "Tmax-lag max=5@100.000000<5.000000 ok200,3xx"},
  };
  for (const Case &c : cases) {
    ReplayOptions o;
    std::string error;
    errno = ERANGE;  // left over from an earlier call, it refuses no number
    ASSERT_EQ(parse(c.args, &o, &error), ReplayCommand::kRun) << error;
    EXPECT_EQ(summary(o), c.read);
  }
  // The command line as the report shows it, quoted where it needs it.
  ReplayOptions quoted, fresh;
  std::string error;
  ASSERT_EQ(parse({"pkg", "--target", "h:1", "--header", "X-A: 1", "--html", "it's.html"}, &quoted,
                  &error),
            ReplayCommand::kRun);
  EXPECT_EQ(quoted.command_line,
            "vt_replay pkg --target h:1 --header 'X-A: 1' --html 'it'\\''s.html'");
  EXPECT_EQ(parse({"pkg", "--help"}, &fresh, &error), ReplayCommand::kHelp);
}

// Every form of --target, and what each error says.
TEST(ReplayOptions, ReadsTargetsAndSaysWhatIsWrongWithThem) {
  struct Case {
    const char *text;
    const char *shown;  // as the report shows it, or the error
  };
  const Case cases[] = {
      {"127.0.0.1:8080", "127.0.0.1:8080"},
      {"http://svc.example", "http://svc.example:80"},
      {"HTTP://svc.example:8080/", "http://svc.example:8080"},
      {"https://svc.example", "https://svc.example:443"},
      {"https://[::1]:8443", "https://[::1]:8443"},
      {"https://127.0.0.1:08443", "https://127.0.0.1:8443"},
      {"hostonly", "expected HOST:PORT, http://HOST[:PORT] or https://HOST[:PORT]"},
      {"h:1", "h:1"},
      {"http://h:65535", "http://h:65535"},
      {"h:0", "expected a port from 1 to 65535"},
      {"https://h:65536", "expected a port from 1 to 65535"},
      {"http://h:", "expected a port from 1 to 65535"},
      {"::1:80", "an IPv6 address goes in brackets: [::1]:8080"},
      {"https://[::1:80", "an IPv6 address without its closing ]"},
      {"http://", "no host"},
      {"https://h/api/v1", "a target names no path (/api/v1); the requests keep their own"},
      {"https://h?x=1", "a target names no path (?x=1); the requests keep their own"},
      {"h/x:80", "a target names no path; the requests keep their own"},
      {"ftp://h",
       "unknown scheme ftp (expected HOST:PORT, http://HOST[:PORT] or https://HOST[:PORT])"},
      {"http://user@h", "user information is not supported"},
  };
  for (const Case &c : cases) {
    ReplayTargetName name;
    std::string error;
    bool ok = parse_replay_target(c.text, &name, &error);
    EXPECT_EQ(ok ? replay_target_text(name) : error, c.shown) << c.text;
  }
}

// Each refusal names the option and its value, control characters escaped.
TEST(ReplayOptions, RefusesBadValuesNamingTheOption) {
  struct Case {
    std::vector<const char *> args;
    const char *error;  // the message's start
  };
  const Case cases[] = {
      {{"--target", "h:1"}, "no package directory given"},
      {{"pkg", "other", "--target", "h:1"}, "more than one package directory (pkg, other)"},
      {{"pkg"}, "no --target given"},
      {{"pkg", "--target", "hostonly"}, "--target hostonly: expected HOST:PORT"},
      {{"--speed", "0"}, "--speed 0: expected a factor above 0"},
      {{"--speed", "1.000001e9"}, "--speed 1.000001e9: expected"},
      {{"--workers", "1,,2"}, "--workers 1,,2: expected worker numbers"},
      {{"--workers", "256"}, "--workers 256: expected"},
      {{"--connections-per-user", "65"}, "--connections-per-user 65: "},
      {{"--timeout", "3600001"}, "--timeout 3600001: expected"},
      {{"--timeout", "0"}, "--timeout 0: expected"},
      {{"--duration", "10000000.5"}, "--duration 10000000.5: expected"},
      {{"--threads", "0"}, "--threads 0: expected"},
      {{"--timeout"}, "--timeout needs a value"},
      {{"--bogus"}, "unknown option --bogus"},
      // A long option goes by its whole name, never a prefix of it.
      {{"--time", "5"}, "unknown option --time"},
      {{"--quiet=1"}, "--quiet takes no value"},
      {{"pkg", "--target", "http://h", "--cacert", "ca.pem"},
       "--cacert applies to an https:// target, not http://h"},
      {{"--insecure"}, "--insecure applies to an https:// target"},
      {{"pkg", "--target", "https://h", "--insecure", "--cacert", "ca.pem"},
       "--insecure skips the check that --cacert is for"},
      {{"pkg", "--target", "https://h", "--sni", ""}, "--sni needs a value"},
      {{"--header", "X: a\r\nGET /x"},
       "--header X: a\\r\\nGET /x: a header value holds no line break"},
      {{"--host", "a\x01"}, "--host a\\x01: a host name holds no blank"},
      {{"--ok-status", "2xx,"}, "--ok-status 2xx,: '': expected"},
      {{"--max-failed", "1.5"}, "--max-failed 1.5: expected a ratio"},
      {{"--max-lag", "p0=5"}, "--max-lag p0=5: expected pNN=TIME"},
      {{"--shard", "auto/257"}, "--shard auto/257: expected I/N"},
      {{"--start-at", "tomorrow"}, "--start-at tomorrow: expected"},
      {{"--results", ""}, "--results needs a file name"},
      {{"--results", "a.csv", "--json", "a.csv"},
       "--json, --results and --html name the same file a.csv"},
      {{"--loop", "0"}, "--loop 0: expected passes from 1 to 1000000, or inf"},
      {{"--loop", "1000001"}, "--loop 1000001: expected passes"},
      {{"--loop", "inf"}, "--loop inf needs --duration"},
      {{"--loop-gap", "2"}, "--loop-gap without --loop"},
      {{"--loop", "2", "--loop-gap", "1e8"}, "--loop-gap 1e8: expected seconds from 0 to 1e7"},
      {{"--loop", "2", "--shard", "0/2"}, "--loop and --shard: "},
      {{"--users", "4"}, "--users 4: expected xK"},
      {{"--users", "x0"}, "--users x0: expected xK"},
      {{"--users", "x1001"}, "--users x1001: 1001 copies of each user are more than the 1000"},
      {{"--rate", "0/s"}, "--rate 0/s: expected requests per second above 0 and at most 1000000"},
      {{"--rate", "1000001"}, "--rate 1000001: expected"},
      {{"--rate", "5/m"}, "--rate 5/m: expected"},
      {{"--rate", "5/s", "--speed", "2"}, "--rate and --speed: "},
      {{"--speed", "1:10@1m", "--rate", "5"}, "--rate and --speed: "},
      {{"--speed", "1:10"}, "--speed 1:10: a ramp is A:B@T"},
      {{"--speed", "0:10@1m"}, "--speed 0:10@1m: a ramp is A:B@T"},
      {{"--speed", "1:10@0"}, "--speed 1:10@0: T: expected seconds above 0"},
      {{"--speed", "1:10@5d"}, "--speed 1:10@5d: T: expected seconds"},
  };
  for (const Case &c : cases) {
    ReplayOptions o;
    std::string error;
    EXPECT_EQ(parse(c.args, &o, &error), ReplayCommand::kUsageError) << c.error;
    EXPECT_EQ(error.substr(0, strlen(c.error)), c.error);
  }
}

// --shard and --start-at: what each form means, and where each is refused.
TEST(ReplayOptions, ReadsShardsAndStartTimes) {
  ReplayShard shard;
  for (const char *text : {"0/1", "3/4", "255/256"}) {
    ASSERT_TRUE(parse_shard(text, &shard)) << text;
    EXPECT_EQ(std::to_string(shard.index) + "/" + std::to_string(shard.count), text);
  }
  for (const char *text : {"4/4", "-1/4", "1/", "/2", "1/2/3"})
    EXPECT_FALSE(parse_shard(text, &shard)) << text;
  struct Start {
    const char *text;
    int64_t unix_us;  // -1: refused, with `error` at the start of the message
    const char *error;
  };
  const Start starts[] = {
      {"1795000000", 1795000000000000, ""},
      {"1795000000.25", 1795000000250000, ""},
      {"2026-11-18T11:06:40Z", 1795000000000000, ""},
      {"2026-11-18 11:06:40.123456789Z", 1795000000123456, ""},
      {"2026-11-18T12:36:40.5+01:30", 1795000000500000, ""},
      {"2026-11-18T06:06:40-05:00", 1795000000000000, ""},
      {"2026-11-18T11:06:40", -1, "the time needs its zone"},
      {"2026-11-18T11:06:40+1:00", -1, "the time needs its zone"},
      {"2026-11-18T11:06:40+24:00", -1, "a zone is Z or +hh:mm"},
      {"2026-11-18T11:06:40-01:60", -1, "a zone is Z or +hh:mm"},
      {"2026-11-18T11:06:40+0x:00", -1, "a zone is Z or +hh:mm"},
      {"2026-11-18T11:06:40+23:59", 1794913660000000, ""},
      {"2026-13-18T11:06:40Z", -1, "expected seconds since the epoch or an ISO 8601"},
      {"2026-11-18T11:06Z", -1, "expected seconds"},
      {"2026-11-18T11:06:40.Z", -1, "no digits after the decimal point"},
      {"1970-01-01T00:00:01Z", 1000000, ""},
      {"2016-12-31T23:59:60Z", 1483228800000000, ""},  // a leap second: the next minute
      {"2016-12-31T23:59:61Z", -1, "expected seconds"},
      {"3000-01-01T00:00:00Z", 32503680000000000, ""},
      {"1970-01-01T00:00:00.999Z", -1, "not a time between 1970-01-01T00:00:01Z and 3000"},
      {"1970-01-01T01:00:00+01:00", -1, "not a time between"},
      {"3000-01-01T00:00:00.000001Z", -1, "not a time between"},
      {"32503680000", 32503680000000000, ""},
      {"32503680000.5", -1, "expected seconds"},
      {"0", -1, "expected seconds"},
      {"1.2.3", -1, "expected seconds"},
      {"", -1, "expected seconds"},
  };
  for (const Start &c : starts) {
    int64_t us = -1;
    std::string error;
    bool ok = parse_start_time(c.text, &us, &error);
    EXPECT_EQ(ok, c.unix_us >= 0) << c.text << ": " << error;
    if (ok) {
      EXPECT_EQ(us, c.unix_us) << c.text;
    } else {
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << ": " << error;
    }
  }
}

// Users of ids 7 and 9 whose requests span 0 to 800 ms and 100 to 1000 ms.
ReplayPackage package(uint64_t top_id = 9) {
  ReplayPackage p;
  p.dir = "pkg";
  p.users = {{.user_id = 7, .last_ms = 800}, {.user_id = top_id, .first_ms = 100, .last_ms = 1000}};
  p.requests = 10;
  p.last_time_ms = 1000;
  return p;
}

// The plan of args for p; given `refused`, refused, and why into it.
ReplayPlan plan_of(std::vector<const char *> args, const ReplayPackage &p = package(),
                   std::string *refused = nullptr) {
  ReplayOptions o;
  std::string error;
  EXPECT_EQ(parse(args, &o, &error), ReplayCommand::kRun) << error;
  ReplayPlan plan;
  EXPECT_NE(make_replay_plan(o.mode, o.speed, o.duration_s, p, &plan, &error), refused != nullptr)
      << error;
  if (refused) *refused = error;
  return plan;
}

TEST(ReplayModes, RampSpeedsAndSendTimes) {
  struct Case {
    std::vector<const char *> args;
    double elapsed_s, speed;    // the speed at elapsed_s
    double schedule_s, send_s;  // a schedule position and its send time
  } cases[] = {
      {{"--speed", "1:10@10m"}, 0, 1, 0, 0},
      {{"--speed", "1:10@10m"}, 300, 5.5, 975, 300},   // 300 s + 9/1200 * 300^2
      {{"--speed", "1:10@10m"}, 600, 10, 3300, 600},   // the ramp's end: (1 + 10) / 2 * 600
      {{"--speed", "1:10@10m"}, 900, 10, 4300, 700},   // held at 10x after it
      {{"--speed", "10:1@100s"}, 50, 5.5, 387.5, 50},  // slowing down
      {{"--speed", "2:2@0.5h"}, 10, 2, 30, 15},        // a ramp that stays
      {{"--speed", "2"}, 10, 2, 30, 15},
  };
  for (const Case &c : cases) {
    ReplayPlan plan = plan_of(c.args);
    std::string name = std::string(c.args[1]) + " at " + std::to_string(c.elapsed_s);
    EXPECT_DOUBLE_EQ(replay_speed_at(plan, c.elapsed_s), c.speed) << name;
    EXPECT_NEAR(replay_send_ns(plan, static_cast<int64_t>(c.schedule_s * 1e9)) / 1e9, c.send_s,
                1e-6)
        << name;
    EXPECT_NEAR(replay_schedule_at(plan, c.send_s), c.schedule_s, 1e-6) << name;
  }
}

TEST(ReplayModes, PassesCopiesSlotsAndUserIds) {
  ReplayPlan plan = plan_of({"--loop", "3", "--loop-gap", "0.5s", "--users", "x4"});
  EXPECT_EQ(plan.pass_ns, 1500000000);  // the last request at 1000 ms, and the gap
  EXPECT_EQ(plan.requests, 40u);
  // Pass 2, copy 1 of 4 of a user of 800 ms: a quarter of its session later.
  EXPECT_EQ(replay_schedule_ns(plan, 2, 1, 100, 800), 3000000000 + 100000000 + 200000000);
  EXPECT_EQ(replay_run_user_id(plan, 7, 0, 0), 7u);
  EXPECT_EQ(replay_run_user_id(plan, 7, 2, 1), 7u + 9 * 1000000000ull);
  // The last copy of the last pass: 2 * 1.5 s + 1 s + 3/4 of 900 ms.
  EXPECT_DOUBLE_EQ(plan.span_s, 4.675);
  // Ids of ten digits take a stride of ten digits more.
  EXPECT_EQ(plan_of({"--users", "x2"}, package(12345678901)).id_stride, 100000000000u);

  plan = plan_of({"--rate", "200/s", "--loop", "3", "--loop-gap", "1"});
  EXPECT_EQ(replay_slot_ns(plan, 500, 0), 2500000000);
  EXPECT_EQ(replay_slot_ns(plan, 500, 2), 4500000000);
  EXPECT_DOUBLE_EQ(plan.span_s, 29 / 200.0 + 2);
  // Until --duration: the passes begun by then.
  EXPECT_EQ(plan_of({"--loop", "inf", "--duration", "10", "--speed", "2"}).passes, 21u);
  EXPECT_EQ(plan_of({"--loop", "inf", "--duration", "10", "--rate", "5"}).passes, 6u);
}

TEST(ReplayModes, PlansThatDoNotFit) {
  ReplayPackage many = package(), instant = package(), long_ago = package(),
                big_ids = package(1000000000000);
  many.users.resize(kMaxUserCopies / 1000 + 1);
  instant.last_time_ms = big_ids.last_time_ms = 0;
  long_ago.last_time_ms = 4000000000000;  // some 127 years
  struct Case {
    std::vector<const char *> args;
    const ReplayPackage *p;
    const char *error;  // a part of it
  } cases[] = {
      {{"--users", "x1000"}, &many, "times 1000 are more than the 16777216 users"},
      {{"--loop", "inf", "--duration", "5"}, &instant, "passes would take no time"},
      {{"--loop", "2"}, &long_ago, "under loop x2 would outlast 146 years"},
      {{"--speed", "1:0.5@1s"}, &long_ago, "under speed 1x to 0.5x over 1 s would outlast"},
      {{"--loop", "1000000", "--users", "x1000"}, &big_ids, "the run's user ids would pass 2^64"},
  };
  for (const Case &c : cases) {
    std::string error;
    plan_of(c.args, *c.p, &error);
    EXPECT_NE(error.find(c.error), std::string::npos) << c.error << ": " << error;
  }
  plan_of({"--quiet"}, long_ago);  // in a plainer mode it fits
}

// Each head after the request line, rewritten, and each rule's "replaced/added/removed".
TEST(ReplayRewrite, RewritesHeadsAsTheRulesSay) {
  struct Case {
    std::vector<std::string> rules;
    std::string head, want, tallies;
  };
  const Case cases[] = {
      {{"X-A: 1"}, "\r\n", "X-A: 1\r\n\r\n", "0/1/0"},
      // In place, in any case, the rule's spelling; repeats go.
      {{"x-a: new"}, "X-A: 1\r\nB: 2\r\nx-A: 3\r\n\r\n", "x-a: new\r\nB: 2\r\n\r\n", "1/0/0"},
      // Removed with its continuation lines; an absent one is no error.
      {{"X-A:", "Gone:"},
       "X-A: 1\r\n 2\r\n\t3\r\nB: 4\r\nX-a: 5\r\n\r\n",
       "B: 4\r\n\r\n",
       "0/0/1 0/0/0"},
      {{"X-A:"}, "B: 1\r\n 2\r\nX-A: 3\r\n\r\n", "B: 1\r\n 2\r\n\r\n", "0/0/1"},
      // A name that only begins like the rule's is another header.
      {{"Host: h"}, "Hostname: x\r\nHost: y\r\n\r\n", "Hostname: x\r\nHost: h\r\n\r\n", "1/0/0"},
      // Content-Length and the body's framing stay where they were.
      {{"A: 1", "B:"},
       "Content-Length: 3\r\nB: x\r\n\r\n",
       "Content-Length: 3\r\nA: 1\r\n\r\n",
       "0/1/0 0/0/1"},
      {{}, "X: 1\r\n\r\n", "X: 1\r\n\r\n", ""},
  };
  const std::string line = "POST /p HTTP/1.1\r\n";
  for (const Case &c : cases) {
    const std::string head = line + c.head;
    std::vector<ReplayHeaderRule> rules = rules_of(c.rules);
    std::vector<ReplayRewriteTally> tally(rules.size());
    std::string out, tallies;
    ASSERT_EQ(request_head_length(head.data(), head.size()), head.size());
    rewrite_request_head(head, rules, &out, tally.data());
    EXPECT_EQ(out, line + c.want) << head;
    for (const ReplayRewriteTally &t : tally)
      tallies += (tallies.empty() ? "" : " ") + std::to_string(t.replaced) + "/" +
                 std::to_string(t.added) + "/" + std::to_string(t.removed);
    EXPECT_EQ(tallies, c.tallies) << head;
  }
}

TEST(ReplayRewrite, FindsTheHeadAndRefusesBadRules) {
  const char partial[] = "GET / HTTP/1.1\r\nA: 1\r\n\r";
  EXPECT_EQ(request_head_length(partial, sizeof partial - 1), 0u);
  EXPECT_EQ(request_head_length("GET / HTTP/1.1\r\n\r\nbody\r\n\r\n", 26), 18u);
  struct Case {
    const char *text, *error;
  };
  const Case cases[] = {
      {"X-A", "expected 'Name: value' to add or replace a header, or 'Name:' to remove it"},
      {": v", "no header name before the colon"},
      {"X A: v", "'X A' is not a header name (letters, digits and !#$%&'*+-.^_`|~)"},
      {"Content-Length: 4",
       "Content-Length frames the body, which is sent as the package holds it"},
      {"transfer-encoding:",
       "transfer-encoding frames the body, which is sent as the package holds it"},
      {"X: a\nb", "a header value holds no line break"},
      // HTTP allows visible characters, blanks and tabs: no other control byte.
      {"X: a\x01"
       "b",
       "a header value holds no control character but tab (here \\x01)"},
      {"X: a\x7f", "a header value holds no control character but tab (here \\x7f)"},
  };
  for (const Case &c : cases) {
    ReplayHeaderRule r;
    std::string error;
    EXPECT_FALSE(parse_header_rule(c.text, &r, &error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
  ReplayHeaderRule r;
  std::string error;
  ASSERT_TRUE(parse_header_rule("X-Empty:   \t", &r, &error));
  EXPECT_TRUE(r.remove);
  ASSERT_TRUE(parse_header_rule("X: a\tb \xc3\xa9", &r, &error)) << error;
  EXPECT_EQ(replay_escaped("a\r\nb\t\\\x01"), "a\\r\\nb\\t\\\\\\x01");
  EXPECT_FALSE(host_header_rule("", &r, &error));
}

TEST(ReplayThresholds, ReadsStatusListsCodesAndClasses) {
  struct Case {
    const char *text;
    std::vector<int> ok, not_ok;
  };
  const Case cases[] = {
      {"2xx,3xx", {200, 299, 300, 399}, {199, 400, 503, -1, 1000}},
      {"204", {204}, {200, 205}},
      {"5XX,100", {100, 500, 599}, {101, 200}},
      {"599,1xx", {599, 100, 199}, {598, 200}},
  };
  for (const Case &c : cases) {
    ReplayStatusSet s;
    std::string error;
    ASSERT_TRUE(parse_status_set(c.text, &s, &error)) << c.text;
    for (int code : c.ok) EXPECT_TRUE(status_is_ok(s, code)) << c.text << " " << code;
    for (int code : c.not_ok) EXPECT_FALSE(status_is_ok(s, code)) << c.text << " " << code;
  }
  for (const char *bad : {"", "2xx,", "6xx", "099", "600", "20", "2000", "2x", "abc", " 200"}) {
    ReplayStatusSet s;
    std::string error;
    EXPECT_FALSE(parse_status_set(bad, &s, &error)) << bad;
  }
}

TEST(ReplayThresholds, ReadsLimitsAndRefusesTheirEdges) {
  ReplayThreshold t;
  std::string error;
  for (auto [text, limit] :
       {std::pair{"0", 0.0}, {"1", 1.0}, {"0.05", 0.05}, {"2.5%", 0.025}, {"100%", 1.0}}) {
    ASSERT_TRUE(parse_failed_threshold(text, &t, &error)) << text;
    EXPECT_DOUBLE_EQ(t.limit, limit) << text;
  }
  for (const char *bad : {"", "-0.1", "1.01", "101%", "%", "x", "0.5 ", "nan", "inf"})
    EXPECT_FALSE(parse_failed_threshold(bad, &t, &error)) << bad;
  // Milliseconds bare or with their unit.
  for (auto [text, p, ms] : {std::tuple{"p50=1", 50.0, 1.0},
                             {"p99.99=0", 99.99, 0.0},
                             {"p100=3ms", 100.0, 3.0},
                             {"max=2.5s", 100.0, 2500.0},
                             {"p0.1=700us", 0.1, 0.7}}) {
    ASSERT_TRUE(parse_percentile_threshold(text, ThresholdKind::kLag, &t, &error)) << text;
    EXPECT_DOUBLE_EQ(t.percentile, p) << text;
    EXPECT_DOUBLE_EQ(t.limit, ms) << text;
  }
  for (const char *bad : {"p0=1", "p100.5=1", "p=1", "99=1", "p50", "p50=", "p50=-1", "P50=1",
                          "p50=1m", "p50=ms", "p50=1 s", "min=1"})
    EXPECT_FALSE(parse_percentile_threshold(bad, ThresholdKind::kLatency, &t, &error)) << bad;
}

// A threshold is crossed above its limit, and with nothing to measure.
TEST(ReplayThresholds, CrossedAboveTheLimitOrWithoutASample) {
  ReplayStats s;
  std::vector<ReplayThresholdResult> none =
      check_replay_thresholds({{ThresholdKind::kFailed, 0, 1, "f"},
                               {ThresholdKind::kLatency, 99, 1e9, "l"},
                               {ThresholdKind::kLag, 99, 1e9, "g"}},
                              s);
  for (const ReplayThresholdResult &r : none)
    EXPECT_TRUE(r.crossed && !r.sampled) << r.threshold.text;
  s.counts.completed = 6;
  s.counts.bad_status = 1;
  s.counts.errors = 2;  // 3 failed of 8 ended
  for (int i = 1; i <= 100; i++) {
    histogram_add(&s.latency_ns, static_cast<uint64_t>(i) * 1000000);  // 1 to 100 ms
    histogram_add(&s.lag_ns, 200);
  }
  struct Case {
    ReplayThreshold t;
    double measured;
    bool crossed;
  };
  const Case cases[] = {
      {{ThresholdKind::kFailed, 0, 0.375, ""}, 0.375, false},
      {{ThresholdKind::kFailed, 0, 0.374, ""}, 0.375, true},
      {{ThresholdKind::kLatency, 100, 100, ""}, 100, false},
      {{ThresholdKind::kLatency, 100, 99.99, ""}, 100, true},
      {{ThresholdKind::kLatency, 50, 51, ""}, 50, false},
      {{ThresholdKind::kLatency, 50, 49, ""}, 50, true},
      {{ThresholdKind::kLag, 99, 0.001, ""}, 0.0002, false},
      {{ThresholdKind::kLag, 99, 0.0001, ""}, 0.0002, true},
  };
  for (const Case &c : cases) {
    std::vector<ReplayThresholdResult> r = check_replay_thresholds({c.t}, s);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_NEAR(r[0].measured, c.measured, c.measured * kHistogramRelativeError) << c.t.limit;
    EXPECT_EQ(r[0].crossed, c.crossed) << c.t.limit;
  }
}

}  // namespace
