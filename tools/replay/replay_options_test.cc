#include "tools/replay/replay_options.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <tuple>
#include <vector>

namespace {

ReplayCommand parse(std::vector<const char *> args, ReplayOptions *o, std::string *error) {
  args.insert(args.begin(), "vt_replay");
  return parse_replay_options(static_cast<int>(args.size()), const_cast<char **>(args.data()), o,
                              error);
}

// What a parse gave, in one line.
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
      {{"pkg", "--target", "h:1", "--speed", "1e9", "--duration", "1e7", "--connections-per-user",
        "64", "--timeout", "3600000", "--threads", "64", "--workers", "5", "--workers", "2-3",
        "--retry-closed"},
       "pkg h:1 w=2/3 s=1e+09 d=1e+07 c=64 t=3600000 th=64 || 0/1 at=0 q0 r1 h||0 ok2xx,3xx"},
      // One rule per header name, the later value in the earlier place.
      {{"pkg",         "--target",      "https://h.example",
        "--sni",       "sni.example",   "--cacert",
        "ca.pem",      "--host",        "staging:8080",
        "--header",    "X-A: 1",        "--header",
        "x-a:  2 ",    "--header",      "Cookie:",
        "--ok-status", "200,3xx",       "--max-failed",
        "1%",          "--max-latency", "p99.9=250",
        "--max-lag",   "max=5",         "--shard=1/3",
        "--start-at",  "1795000000",    "--results",
        "r.csv",       "--html",        "r.html"},
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
  // The command line as the report shows it: a word that needs quotes gets
  // them, a quote inside it too.
  ReplayOptions quoted, fresh;
  std::string error;
  ASSERT_EQ(parse({"pkg", "--target", "h:1", "--header", "X-A: 1", "--html", "it's.html"}, &quoted,
                  &error),
            ReplayCommand::kRun);
  EXPECT_EQ(quoted.command_line,
            "vt_replay pkg --target h:1 --header 'X-A: 1' --html 'it'\\''s.html'");
  EXPECT_EQ(parse({"pkg", "--help"}, &fresh, &error), ReplayCommand::kHelp);
  EXPECT_EQ(parse({"--version"}, &fresh, &error), ReplayCommand::kVersion);
}

// Every form of --target, and what each error says.
TEST(ReplayOptions, ReadsTargetsAndSaysWhatIsWrongWithThem) {
  struct Case {
    const char *text;
    const char *shown;  // as the report shows it, or the error
  };
  const Case cases[] = {
      {"127.0.0.1:8080", "127.0.0.1:8080"},
      {"[::1]:99", "[::1]:99"},
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

// Each refusal names the option (and its value, control characters
// escaped); the bounds themselves are taken (ReadsEveryOption).
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
      {{"pkg", "--target", "h:1", "--speed", "0"}, "--speed 0: expected a factor above 0"},
      {{"pkg", "--target", "h:1", "--speed", "1.000001e9"}, "--speed 1.000001e9: expected"},
      {{"pkg", "--target", "h:1", "--workers", "1,,2"}, "--workers 1,,2: expected worker numbers"},
      {{"pkg", "--target", "h:1", "--workers", "256"}, "--workers 256: expected"},
      {{"pkg", "--target", "h:1", "--connections-per-user", "65"}, "--connections-per-user 65: "},
      {{"pkg", "--target", "h:1", "--timeout", "3600001"}, "--timeout 3600001: expected"},
      {{"pkg", "--target", "h:1", "--timeout", "-5"}, "--timeout -5: expected"},
      {{"pkg", "--target", "h:1", "--duration", "10000000.5"}, "--duration 10000000.5: expected"},
      {{"pkg", "--target", "h:1", "--threads", "0"}, "--threads 0: expected"},
      {{"pkg", "--target", "h:1", "--timeout"}, "--timeout needs a value"},
      {{"pkg", "--target", "h:1", "--bogus"}, "unknown option --bogus"},
      // A long option goes by its whole name, never a prefix of it.
      {{"pkg", "--target", "h:1", "--time", "5"}, "unknown option --time"},
      {{"pkg", "--target", "h:1", "--quiet=1"}, "--quiet takes no value"},
      {{"pkg", "--target", "http://h", "--cacert", "ca.pem"},
       "--cacert applies to an https:// target, not http://h"},
      {{"pkg", "--target", "h:1", "--insecure"}, "--insecure applies to an https:// target"},
      {{"pkg", "--target", "https://h", "--insecure", "--cacert", "ca.pem"},
       "--insecure skips the check that --cacert is for"},
      {{"pkg", "--target", "https://h", "--sni", ""}, "--sni needs a value"},
      {{"pkg", "--target", "h:1", "--header", "X: a\r\nGET /x"},
       "--header X: a\\r\\nGET /x: a header value holds no line break"},
      {{"pkg", "--target", "h:1", "--host", "a\x01"}, "--host a\\x01: a host name holds no blank"},
      {{"pkg", "--target", "h:1", "--ok-status", "2xx,"}, "--ok-status 2xx,: '': expected"},
      {{"pkg", "--target", "h:1", "--max-failed", "1.5"}, "--max-failed 1.5: expected a ratio"},
      {{"pkg", "--target", "h:1", "--max-lag", "p0=5"}, "--max-lag p0=5: expected pNN=TIME"},
      {{"pkg", "--target", "h:1", "--shard", "2/2"}, "--shard 2/2: expected I/N"},
      {{"pkg", "--target", "h:1", "--start-at", "tomorrow"}, "--start-at tomorrow: expected"},
      {{"pkg", "--target", "h:1", "--results", ""}, "--results needs a file name"},
      {{"pkg", "--target", "h:1", "--results", "a.csv", "--json", "a.csv"},
       "--json, --results and --html name the same file a.csv"},
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
  // The forms taken read back as written; the others are refused.
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
      {"1969-12-31T23:59:59Z", -1, "not a time between"},
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

}  // namespace
