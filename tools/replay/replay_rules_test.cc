// Header rewrites, --ok-status lists and thresholds, at their edges.
#include <gtest/gtest.h>

#include <tuple>

#include "base/figures/replay_thresholds.h"
#include "tools/replay/replay_engine.h"
#include "tools/replay/replay_rewrite.h"
#include "tools/replay/replay_test_support.h"

namespace {

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
  EXPECT_FALSE(host_header_rule("a\tb", &r, &error));
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
