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

LoggenOptions small_options(uint64_t seed) {
  LoggenOptions o;
  o.seed = seed, o.progress = false;
  o.days = 2, o.files_per_day = 3, o.requests = 7000, o.customers = 300, o.services = 9;
  o.min_body = 200, o.max_body = 3000, o.large_share = 0.01, o.bad_share = 0.07;
  o.creation_ts_share = 0.3, o.ns_share = 0.3;
  return o;
}

// Generates the tree of o in a fresh directory and returns its files, path
// (relative) and contents, in path order.
std::vector<std::pair<std::string, std::string>> generate(LoggenOptions o, LoggenSummary *s) {
  char tmpl[] = "/tmp/loggen_test.XXXXXX";
  o.out = mkdtemp(tmpl);
  std::string error;
  EXPECT_TRUE(generate_logs(o, s, &error)) << error;
  std::vector<std::pair<std::string, std::string>> files;
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

// What the replay generator's record rules make of a file: the code each
// record is rejected with (0 = accepted) and the body bytes of accepted ones.
struct Verdicts {
  uint64_t codes[8] = {};  // [0] accepted, [1..7] codes 101..107
  uint64_t body_bytes = 0;
};

bool starts(const std::string &line, const char *prefix) {
  return line.compare(0, strlen(prefix), prefix) == 0;
}

void judge_file(const std::string &text, int64_t window_start_s, Verdicts *v) {
  std::istringstream in(text);
  bool body = false, time = false, url = false, action = false;
  int code = 0;
  uint64_t size = 0;
  auto reject = [&](int c) { code = code ? code : c; };
  for (std::string line; std::getline(in, line);) {
    line += "\n";
    if (body && !starts(line, "*******")) {
      size += line.size();
    } else if (body) {
      if (!time) reject(105);
      if (!action) reject(107);
      if (!url) reject(106);
      v->codes[code ? code - 100 : 0]++;
      if (!code) v->body_bytes += size - 11;
      body = time = url = action = false;
      code = 0;
    } else if (starts(line, "RequestTimeEx=")) {
      time = true;
      if (line.find('.') == std::string::npos) reject(101);
      if (atoll(line.c_str() + 14) < window_start_s) reject(102);
    } else if (starts(line, "HTTP_SOAPACTION=") || starts(line, "HTTP_WFSOAPACTION=")) {
      std::string value = line.substr(line.find('=') + 1);
      bool empty = value == "\n" || starts(value, "\"\"");
      if (!empty && action) reject(103);
      action = action || !empty;
    } else if (starts(line, "URL=")) {
      url = true;
      if (line.find('=', 4) != std::string::npos || line == "URL=\n") reject(104);
    } else if (starts(line, "xml1=")) {
      body = true;
      size = line.size() - 14;
    }
  }
}

TEST(Loggen, DeterministicAndCountsMatchWhatTheRecordRulesFind) {
  LoggenSummary s;
  Verdicts v;
  uint64_t bytes = 0;
  auto files = generate(small_options(11), &s);
  LoggenSummary other;
  EXPECT_FALSE(files == generate(small_options(12), &other));
  // The options and the seed name the bytes (and the paths) wherever and
  // whenever they run.
  DigestState all;
  vtlb_digest_init(&all);
  for (const auto &[path, text] : files) {
    vtlb_digest_update(&all, path.c_str(), path.size() + 1);
    vtlb_digest_update(&all, text.data(), text.size());
    judge_file(text, s.window_start_s, &v);
    bytes += text.size();
  }
  uint8_t digest[kDigestSize];
  vtlb_digest_final(&all, digest);
  EXPECT_EQ(vtlb_digest_hex(digest), "33e8648f8e2308b31431f2e5ee5a2dff");
  // 7% bad, 70 of each code: the summary below gives the same counts.
  EXPECT_EQ(std::vector<uint64_t>(v.codes, v.codes + 8),
            (std::vector<uint64_t>{6510, 70, 70, 70, 70, 70, 70, 70}));
  EXPECT_EQ(s.long_visits, 41u);
  EXPECT_EQ(s.customers, 300u);     // each of them has a record
  EXPECT_GT(s.users, s.customers);  // long visits make several users

  // The summary scripts read: one key=value a line, the period in local time.
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  print_loggen_summary(out, small_options(11), s);
  fclose(out);
  std::string summary(text, size);
  free(text);
  size_t period = summary.find("\nreplay_period=REPLAY_PERIOD|");
  ASSERT_NE(period, std::string::npos) << summary;
  summary.erase(period, summary.find('\n', period + 1) - period);
  auto n = [](uint64_t v) { return std::to_string(v); };
  EXPECT_EQ(summary,
            "out=\nfiles=6\nrequests=7000\ngood=6510\nbad_101=70\nbad_102=70\nbad_103=70\n"
            "bad_104=70\nbad_105=70\nbad_106=70\nbad_107=70\nbad=490\nbytes=" +
                n(bytes) + "\ngood_body_bytes=" + n(v.body_bytes) +
                "\ncustomers=" + n(s.customers) + "\nlong_visits=" + n(s.long_visits) +
                "\nexpected_accepted=6510\nexpected_accepted_without_period=6580\n"
                "expected_users=" +
                n(s.users) + "\nexpected_users_without_period=" + n(s.users_without_period) + "\n");
}

// Many services, each with a URL of its own and the same share of requests.
TEST(Loggen, ServicesInTurnWithAUrlEach) {
  LoggenOptions o = small_options(3);
  o.requests = 600, o.services = 200, o.bad_share = 0;
  o.url_per_service = o.services_in_turn = true;
  LoggenSummary s;
  std::map<std::string, int> urls, actions;
  for (const auto &[path, text] : generate(o, &s)) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (starts(line, "URL=")) urls[line]++;
      if (line.find("SOAPACTION=") != std::string::npos) actions[line]++;
    }
  }
  EXPECT_EQ(urls.size(), 200u);
  EXPECT_EQ(actions.size(), 200u);
  for (const auto &[url, count] : urls) EXPECT_EQ(count, 3) << url;
  EXPECT_EQ(urls.count("URL=/svc/Area4.svc/199"), 1u);
}

// The earliest and latest RequestTimeEx seconds of accepted-looking records.
std::pair<int64_t, int64_t> time_range(
    const std::vector<std::pair<std::string, std::string>> &files, int64_t window_start_s) {
  int64_t lo = INT64_MAX, hi = 0;
  for (const auto &[path, text] : files) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (!starts(line, "RequestTimeEx=")) continue;
      int64_t t = atoll(line.c_str() + 14);
      if (t < window_start_s) continue;  // code 102
      lo = std::min(lo, t), hi = std::max(hi, t);
    }
  }
  return {lo, hi};
}

// --day-span packs the visits' starts into the first seconds of each day; a
// usual visit then lasts at most 38 think times of 60 s. The users the tool
// makes without a REPLAY_PERIOD count the code-102 records too.
TEST(Loggen, DaySpanAndUsersWithoutPeriod) {
  LoggenOptions o = small_options(5);
  o.days = 1, o.long_share = 0;
  LoggenSummary s;
  auto files = generate(o, &s);
  auto [lo, hi] = time_range(files, s.window_start_s);
  EXPECT_GT(hi - lo, 20 * 3600);  // the whole day by default
  EXPECT_GE(s.users_without_period, s.users + 1);
  o.day_span = 600;
  files = generate(o, &s);
  std::tie(lo, hi) = time_range(files, s.window_start_s);
  EXPECT_GE(lo, s.window_start_s);
  EXPECT_LE(hi, s.window_start_s + 600 + 38 * 60);
  o.bad_share = 0;
  generate(o, &s);
  EXPECT_EQ(s.users_without_period, s.users);
}

// A file that cannot be written whole (the file size limit standing for a
// full disk), or whose close reports a late write error, ends the run with
// the file's name and the reason.
TEST(Loggen, AFailedWriteOrCloseNamesTheFile) {
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  for (bool at_close : {false, true}) {
    LoggenOptions o = small_options(3);
    char tmpl[] = "/tmp/loggen_test.XXXXXX";
    o.out = mkdtemp(tmpl);
    struct rlimit small = {10000, old_limit.rlim_max};
    vt_fail_close_of("/SOAP.log.2", EIO, at_close ? 1 : 0);
    ASSERT_EQ(at_close ? 0 : setrlimit(RLIMIT_FSIZE, &small), 0);
    LoggenSummary s;
    std::string error;
    bool ok = generate_logs(o, &s, &error);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    vt_fail_close_of("", 0, 0);
    fs::remove_all(o.out);
    EXPECT_FALSE(ok) << at_close;
    std::string want = at_close ? "/SOAP.log.2: Input/output error" : "/SOAP.log.1: File too large";
    EXPECT_EQ(error.rfind("cannot write " + o.out + "/", 0), 0u) << error;
    EXPECT_EQ(error.substr(error.size() - std::min(error.size(), want.size())), want) << error;
  }
  signal(SIGXFSZ, old_handler);
}

// Midnight UTC of a date: either side of a leap day of a year divisible by
// 400, and the years between 2000 and 2005 where the 400-year era turns.
TEST(Loggen, MidnightsOfTheCalendar) {
  const std::pair<int64_t, int64_t> dates[] = {{19710101, 31536000},   {20000229, 951782400},
                                               {20000301, 951868800},  {20021231, 1041292800},
                                               {20050228, 1109548800}, {20991231, 4102358400}};
  for (auto [ymd, seconds] : dates) EXPECT_EQ(utc_midnight(ymd), seconds) << ymd;
}

// Within a visit the requests come 1 to 60 seconds apart, or 2 to 5
// minutes apart for the customers whose visits outlast a session; the
// gaps reach both ends of each range.
TEST(Loggen, ThinkTimesSpanTheirRanges) {
  LoggenOptions o = small_options(9);
  o.days = 1, o.long_share = 0.3;
  LoggenPlanState st;
  init_plan_state(o, &st);
  std::vector<LoggenEvent> events;
  plan_day(o, 0, &st, &events);
  std::sort(events.begin(), events.end(),
            [](const LoggenEvent &a, const LoggenEvent &b) { return a.order < b.order; });
  // [0]: the short gaps, [1]: the long ones; low and high ends, in µs.
  uint64_t low[2] = {UINT64_MAX, UINT64_MAX}, high[2] = {0, 0}, outside = 0;
  for (size_t i = 1; i < events.size(); i++) {
    // A visit's requests are planned one after another; the next visit is
    // another customer's.
    if (events[i].customer != events[i - 1].customer) continue;
    uint64_t gap = events[i].time_us - events[i - 1].time_us;
    int k = gap >= 120000000;
    if (gap < 1000000 || gap > 300000000 || (gap > 60000000 && gap < 120000000)) outside++;
    low[k] = std::min(low[k], gap);
    high[k] = std::max(high[k], gap);
  }
  EXPECT_EQ(outside, 0u);
  // Within half a second of each end (this seed's draw: 1.02, 59.996,
  // 120.06 and 299.92 s).
  EXPECT_LT(low[0], 1500000u);
  EXPECT_GT(high[0], 59500000u);
  EXPECT_LT(low[1], 120500000u);
  EXPECT_GT(high[1], 299500000u);
}

// Sessions counted as the replay generator makes users: a customer's request
// joins the session while it comes less than the session length after the
// session's first.
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
  for (auto [requests, sessions] : cases) {
    EXPECT_EQ(count_sessions(&requests), sessions) << requests.size();
  }
}

// Progress is shown a second after the first look (every 4096 requests),
// however slow the machine: a run that looks once shows none.
TEST(Loggen, NoProgressBeforeASecondHasPassed) {
  LoggenOptions o = small_options(5);
  o.requests = 5000, o.progress = true;
  LoggenSummary s;
  testing::internal::CaptureStderr();
  generate(o, &s);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// A line a second after the first look and a second after each line; at
// the end a last line only where one was shown before.
TEST(Loggen, ProgressIsDueOnceASecond) {
  struct Look {
    int64_t ms;
    bool last, due;
  };
  const std::vector<std::vector<Look>> runs = {
      {{500, false, false},
       {1499, false, false},
       {1500, false, true},
       {2000, false, false},
       {2499, false, false},
       {2500, false, true},
       {2600, true, true}},
      {{0, false, false}, {999, false, false}, {999, true, false}},
  };
  for (const std::vector<Look> &run : runs) {
    LoggenProgressClock c;
    for (const Look &l : run)
      EXPECT_EQ(loggen_progress_due(&c, l.ms * 1000000, l.last), l.due) << l.ms;
  }
}

TEST(Loggen, ProgressLineRoundsDown) {
  struct Case {
    uint64_t done, total, bytes;
    const char *line;
  };
  const Case cases[] = {
      {0, 7, 0, "vt_loggen: 0 of 7 requests written (0%), 0 MB"},
      {2, 3, (1 << 20) - 1, "vt_loggen: 2 of 3 requests written (66%), 0 MB"},
      {7, 7, (3 << 20) + (1 << 19), "vt_loggen: 7 of 7 requests written (100%), 3 MB"},
      {1999999999, 2000000000, 1ULL << 40,
       "vt_loggen: 1999999999 of 2000000000 requests written (99%), 1048576 MB"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(loggen_progress_line(c.done, c.total, c.bytes), c.line) << c.done;
}

TEST(LoggenOptions, Errors) {
  const std::string good = "--out=d --days=3 --quiet --seed 18446744073709551615";
  struct Case {
    std::string args;   // split at blanks
    std::string error;  // empty: accepted
  };
  std::vector<Case> cases = {
      {"--out d --days 0", "--days 0: expected a whole number from 1 to 3650"},
      {"--out d --bad-share 1.5", "--bad-share 1.5: expected a share from 0 to 1"},
      {"--out d --min-body 500 --max-body=400", "--min-body 500 is larger than --max-body 400"},
      {"--out d --services 32768", "--services 32768: expected a whole number from 1 to 32767"},
      {"--out d --day-span 86401", "--day-span 86401: expected a whole number from 1 to 86400"},
      {good, ""},
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
      // What is no option, or no value of one (the rest of the forms: the
      // command line's own tests, through vt_replay's).
      {"d", "unexpected argument d"},
      {"--ou d", "unknown option --ou"},
      {"--out d --days", "--days needs a value"},
      {"--out= --days=3", "--out needs a value"},
      {"--days=3", "--out is required"},
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
                           "20240431", "19000229", "2024010"})
    cases.push_back({"--out d --start-date " + date,
                     "--start-date " + date + ": expected a date YYYYMMDD from 1971 to 2099"});
  for (const Case &c : cases) {
    std::vector<std::string> args = {"vt_loggen"};
    std::istringstream in(c.args);
    for (std::string a; in >> a;) args.push_back(a);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    LoggenOptions o;
    std::string error;
    bool help = true;  // whatever it held, only --help sets it
    bool ok = parse_loggen_options(static_cast<int>(argv.size()), argv.data(), &o, &error, &help);
    EXPECT_FALSE(help) << c.args;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(ok, c.error.empty()) << c.error;
    EXPECT_TRUE(!ok || (o.out == "d" && o.days == 3 && !o.progress && o.seed == UINT64_MAX));
  }
  // An option not given takes the value the usage text names.
  std::string out = "--out", dir = "d", name = "vt_loggen";
  char *argv[] = {name.data(), out.data(), dir.data()};
  LoggenOptions o;
  std::string error;
  bool help = false;
  ASSERT_TRUE(parse_loggen_options(3, argv, &o, &error, &help)) << error;
  EXPECT_EQ(std::make_tuple(o.days, o.files_per_day, o.requests, o.customers, o.services,
                            o.min_body, o.max_body, o.day_span, o.seed),
            std::make_tuple(1, 1, 10000, 1000, 10, 300, 40000, 86400, 1u));
}

}  // namespace
