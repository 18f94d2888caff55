#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/core/digest.h"
#include "base/core/failing_io_test_support.h"
#include "tools/loggen/loggen_options.h"
#include "tools/loggen/loggen_plan.h"
#include "tools/loggen/loggen_writer.h"

namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

LoggenOptions small_options(uint64_t seed) {
  LoggenOptions o;
  o.seed = seed, o.progress = false;
  o.days = 2, o.files_per_day = 3, o.requests = 7000, o.customers = 300, o.services = 9;
  o.min_body = 200, o.max_body = 3000, o.large_share = 0.01, o.bad_share = 0.07;
  o.creation_ts_share = 0.3, o.ns_share = 0.3;
  return o;
}

// The tree of o made under /tmp, in path order; a failure expected where error is given.
Files generate(LoggenOptions o, LoggenSummary *s, std::string *error = nullptr) {
  char tmpl[] = "/tmp/loggen_test.XXXXXX";
  o.out = mkdtemp(tmpl);
  std::string failure;
  EXPECT_NE(generate_logs(o, s, &failure), error != nullptr) << failure;
  if (error) *error = failure;
  Files files;
  for (const auto &entry : fs::recursive_directory_iterator(o.out)) {
    if (!entry.is_regular_file()) continue;
    std::stringstream text;
    text << std::ifstream(entry.path()).rdbuf();
    files.emplace_back(fs::relative(entry.path(), o.out).string(), text.str());
  }
  fs::remove_all(o.out);
  std::sort(files.begin(), files.end());
  return files;
}

// Calls f with every line of files that begins with prefix, the prefix cut off.
template <typename F>
void each_line(const Files &files, const std::string &prefix, F f) {
  for (const auto &[path, text] : files) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
      if (line.compare(0, prefix.size(), prefix) == 0) f(line.substr(prefix.size()));
  }
}

// Options and seed name the bytes of tree and summary; one look at the time, no progress.
TEST(Loggen, DeterministicAndSummarised) {
  LoggenSummary s, other;
  LoggenOptions o = small_options(11);
  o.progress = true;
  testing::internal::CaptureStderr();
  Files files = generate(o, &s);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_NE(files, generate(small_options(12), &other));
  EXPECT_EQ(s.customers, 300u);     // each of them has a record
  EXPECT_GT(s.users, s.customers);  // long visits make several users
  testing::internal::CaptureStdout();
  print_loggen_summary(stdout, small_options(11), s);
  std::string summary = testing::internal::GetCapturedStdout();
  size_t period = summary.find("\nreplay_period=REPLAY_PERIOD|");
  ASSERT_NE(period, std::string::npos) << summary;
  summary.erase(period, summary.find('\n', period + 1) - period);
  files.emplace_back("summary", summary);
  DigestState all;
  vtlb_digest_init(&all);
  for (const auto &[path, text] : files) {
    vtlb_digest_update(&all, path.c_str(), path.size() + 1);
    vtlb_digest_update(&all, text.data(), text.size());
  }
  uint8_t digest[kDigestSize];
  vtlb_digest_final(&all, digest);
  EXPECT_EQ(vtlb_digest_hex(digest), "4077cc9fb8fd8cd8be6fc9dfb7665d3d") << summary;
}

// Many services, each with a URL of its own and the same share of requests.
TEST(Loggen, ServicesInTurnWithAUrlEach) {
  LoggenOptions o = small_options(3);
  o.requests = 600, o.services = 200, o.bad_share = 0;
  o.url_per_service = o.services_in_turn = true;
  LoggenSummary s;
  Files files = generate(o, &s);
  std::map<std::string, int> urls, actions;
  each_line(files, "URL=", [&](const std::string &url) { urls[url]++; });
  each_line(files, "HTTP_", [&](const std::string &action) { actions[action]++; });
  EXPECT_EQ(urls.size(), 200u);
  EXPECT_EQ(actions.size(), 200u);
  for (const auto &[url, count] : urls) EXPECT_EQ(count, 3) << url;
  EXPECT_EQ(urls.count("/svc/Area4.svc/199"), 1u);
}

// The earliest and latest RequestTimeEx in the tree of o, of records in the window.
std::pair<int64_t, int64_t> time_range(const LoggenOptions &o, LoggenSummary *s) {
  Files files = generate(o, s);
  int64_t lo = INT64_MAX, hi = 0;
  each_line(files, "RequestTimeEx=", [&](const std::string &value) {
    int64_t t = atoll(value.c_str());
    if (t >= s->window_start_s) lo = std::min(lo, t), hi = std::max(hi, t);
  });
  return {lo, hi};
}

// --day-span packs visits into each day's first seconds; users without a period count 102s.
TEST(Loggen, DaySpanAndUsersWithoutPeriod) {
  LoggenOptions o = small_options(5);
  o.days = 1, o.long_share = 0;
  LoggenSummary s;
  auto [lo, hi] = time_range(o, &s);
  EXPECT_GT(hi - lo, 20 * 3600);  // the whole day by default
  EXPECT_GE(s.users_without_period, s.users + 1);
  o.day_span = 600;
  std::tie(lo, hi) = time_range(o, &s);
  EXPECT_GE(lo, s.window_start_s);
  EXPECT_LE(hi, s.window_start_s + 600 + 38 * 60);
  o.bad_share = 0;
  generate(o, &s);
  EXPECT_EQ(s.users_without_period, s.users);
}

// A file not written whole (a size limit) or failing its close ends the run, named.
TEST(Loggen, AFailedWriteOrCloseNamesTheFile) {
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  for (bool at_close : {false, true}) {
    struct rlimit small = {10000, old_limit.rlim_max};
    vt_fail_close_of("/SOAP.log.2", EIO, at_close ? 1 : 0);
    ASSERT_EQ(at_close ? 0 : setrlimit(RLIMIT_FSIZE, &small), 0);
    LoggenSummary s;
    std::string error;
    generate(small_options(3), &s, &error);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    vt_fail_close_of("", 0, 0);
    std::string want = at_close ? "/SOAP.log.2: Input/output error" : "/SOAP.log.1: File too large";
    EXPECT_TRUE(error.starts_with("cannot write /tmp/loggen_test.") && error.ends_with(want))
        << error;
  }
  signal(SIGXFSZ, old_handler);
}

// Midnight UTC: about a leap day of a year divisible by 400, where the era turns.
TEST(Loggen, MidnightsOfTheCalendar) {
  const std::pair<int64_t, int64_t> dates[] = {{19710101, 31536000},   {20000229, 951782400},
                                               {20000301, 951868800},  {20021231, 1041292800},
                                               {20050228, 1109548800}, {20991231, 4102358400}};
  for (auto [ymd, seconds] : dates) EXPECT_EQ(utc_midnight(ymd), seconds) << ymd;
}

// Requests 1-60 s apart, or 2-5 min in visits outlasting a session; both ends reached.
TEST(Loggen, ThinkTimesSpanTheirRanges) {
  LoggenOptions o = small_options(9);
  o.days = 1, o.long_share = 0.3;
  LoggenPlanState st;
  init_plan_state(o, &st);
  std::vector<LoggenEvent> events;
  plan_day(o, 0, &st, &events);
  std::sort(events.begin(), events.end(),
            [](const LoggenEvent &a, const LoggenEvent &b) { return a.order < b.order; });
  const uint64_t ends[2][2] = {{1000000, 60000000}, {120000000, 300000000}};
  uint64_t low[2] = {UINT64_MAX, UINT64_MAX}, high[2] = {0, 0}, outside = 0;
  for (size_t i = 1; i < events.size(); i++) {
    if (events[i].customer != events[i - 1].customer) continue;  // another visit
    uint64_t gap = events[i].time_us - events[i - 1].time_us;
    int k = gap >= ends[1][0];
    outside += gap < ends[k][0] || gap > ends[k][1];
    low[k] = std::min(low[k], gap), high[k] = std::max(high[k], gap);
  }
  EXPECT_EQ(outside, 0u);
  for (int k : {0, 1}) {
    EXPECT_LT(low[k], ends[k][0] + 500000) << k;
    EXPECT_GT(high[k], ends[k][1] - 500000) << k;
  }
}

// A request joins its customer's session while less than its length after its first.
TEST(Loggen, SessionsEndAtTheirLength) {
  using Requests = std::vector<std::pair<uint32_t, uint64_t>>;
  const std::vector<std::pair<Requests, uint64_t>> cases = {
      {{}, 0},
      {{{1, 5}}, 1},
      {{{1, 0}, {1, kSessionMs - 1}}, 1},
      {{{1, 0}, {1, kSessionMs}}, 2},
      {{{1, kSessionMs}, {1, 0}}, 2},  // in any order
      {{{1, 0}, {2, 0}, {1, 10}}, 2},
      {{{1, 0}, {1, kSessionMs / 2}, {1, kSessionMs + 1}, {1, 2 * kSessionMs}}, 2},
  };
  for (auto [requests, sessions] : cases)
    EXPECT_EQ(count_sessions(&requests), sessions) << requests.size();
}

// A line a second after the first look and each line; a last only after one ("!" last, "*" due).
TEST(Loggen, ProgressIsDueOnceASecond) {
  for (const char *run : {"500 1499 1500* 2000 2499 2500* 2600!*", "0 999 999!"}) {
    LoggenProgressClock c;
    std::istringstream in(run);
    for (std::string look; in >> look;) {
      bool last = look.find('!') != std::string::npos, due = look.find('*') != std::string::npos;
      EXPECT_EQ(loggen_progress_due(&c, atoll(look.c_str()) * 1000000, last), due) << look;
    }
  }
}

// The share and the megabytes rounded down, without overflow at the bounds.
TEST(Loggen, ProgressLineRoundsDown) {
  const std::tuple<uint64_t, uint64_t, uint64_t, std::string> cases[] = {
      {2, 3, (1 << 20) - 1, "vt_loggen: 2 of 3 requests written (66%), 0 MB"},
      {7, 7, (3 << 20) + (1 << 19), "vt_loggen: 7 of 7 requests written (100%), 3 MB"},
      {1999999999, 2000000000, 1ULL << 40,
       "vt_loggen: 1999999999 of 2000000000 requests written (99%), 1048576 MB"},
  };
  for (const auto &[done, total, bytes, line] : cases)
    EXPECT_EQ(loggen_progress_line(done, total, bytes), line) << done;
}

// The error of vt_loggen's arguments args (split at blanks), "" when accepted.
std::string parse(const std::string &args, LoggenOptions *o) {
  std::vector<std::string> words = {"vt_loggen"};
  std::istringstream in(args);
  for (std::string a; in >> a;) words.push_back(a);
  std::vector<char *> argv;
  for (std::string &a : words) argv.push_back(a.data());
  std::string error;
  bool help = true;  // whatever it held, only --help sets it
  bool ok = parse_loggen_options(static_cast<int>(argv.size()), argv.data(), o, &error, &help);
  EXPECT_FALSE(help) << args;
  EXPECT_EQ(ok, error.empty()) << args;
  return error;
}

TEST(LoggenOptions, Errors) {
  const std::string good = "--out=d --days=3 --quiet --seed 18446744073709551615";
  std::vector<std::pair<std::string, std::string>> cases = {
      {"--out d --days 0", "--days 0: expected a whole number from 1 to 3650"},
      {"--out d --bad-share 1.5", "--bad-share 1.5: expected a share from 0 to 1"},
      {"--out d --min-body 500 --max-body=400", "--min-body 500 is larger than --max-body 400"},
      {"--out d --services 32768", "--services 32768: expected a whole number from 1 to 32767"},
      {"--out d --day-span 86401", "--day-span 86401: expected a whole number from 1 to 86400"},
      {"--out d --seed 18446744073709551616",
       "--seed 18446744073709551616: expected an unsigned whole number"},
      {"--out d --seed -1", "--seed -1: expected an unsigned whole number"},
      // Every bound is itself accepted, and a body may have one size.
      {"--out=d --days=3650 --services 32767 --requests 2000000000 --customers 1000000000 "
       "--day-span 86400 --files-per-day 10000 --min-body 100000000 --max-body 100000000 "
       "--large-share 1 --bad-share 0 --days=3 --quiet --seed 18446744073709551615",
       ""},
      {"--out=d --days=1 --services 1 --requests 1 --customers 1 --day-span 1 --files-per-day 1 "
       "--min-body 1 --max-body 1 --days=3 --quiet --seed 18446744073709551615",
       ""},
      // What is no option, or no value of one (an argument, no --out: cli_conventions).
      {"--ou d", "unknown option --ou"},
      {"--out d --days", "--days needs a value"},
      {"--out= --days=3", "--out needs a value"},
      {"--out d --days 3x", "--days 3x: expected a whole number from 1 to 3650"},
      {"--out d --days 99999999999999999999",
       "--days 99999999999999999999: expected a whole number from 1 to 3650"},
      {"--out d --ns-share abc", "--ns-share abc: expected a share from 0 to 1"},
      {"--out d --seed 12a", "--seed 12a: expected an unsigned whole number"},
  };
  // Leap days and the ends of the years taken; days a month lacks refused.
  for (std::string date : {"20240229", "19710101", "20991231", "20000229"})
    cases.push_back({good + " --start-date " + date, ""});
  for (std::string date : {"20260230", "20230229", "19701231", "21000101", "20241301", "20240100",
                           "20240431", "2024010"})
    cases.push_back({"--out d --start-date " + date,
                     "--start-date " + date + ": expected a date YYYYMMDD from 1971 to 2099"});
  for (const auto &[args, error] : cases) {
    LoggenOptions o;
    EXPECT_EQ(parse(args, &o), error);
    EXPECT_TRUE(!error.empty() ||
                (o.out == "d" && o.days == 3 && !o.progress && o.seed == UINT64_MAX));
  }
  // An option not given takes the value the usage text names.
  LoggenOptions o;
  ASSERT_EQ(parse("--out d", &o), "");
  EXPECT_EQ(std::make_tuple(o.days, o.files_per_day, o.requests, o.customers, o.services,
                            o.min_body, o.max_body, o.day_span, o.seed),
            std::make_tuple(1, 1, 10000, 1000, 10, 300, 40000, 86400, 1u));
}

}  // namespace
