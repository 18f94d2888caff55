// The figures of a replay: tallied, written and read back, merged; the timeline; the progress line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <tuple>

#include "base/core/golden_file_test_support.h"
#include "base/figures/replay_html.h"
#include "base/figures/replay_results.h"
#include "base/html/chart.h"
#include "tools/replay/replay_merge.h"
#include "tools/replay/replay_progress.h"
#include "tools/replay/replay_report_read.h"
#include "tools/replay/replay_test_support.h"

namespace {

// n outcomes of workers 0, 2, 5 and 4 pages over 10 s: 200, 503 and every error kind.
std::vector<ReplayOutcome> outcomes(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::lognormal_distribution<double> latency(13, 1.5);
  std::vector<ReplayOutcome> out;
  for (size_t i = 0; i < n; i++) {
    ReplayOutcome o;
    o.planned_ns = static_cast<int64_t>(i * 10000000000ull / n);
    o.sent_ns = o.planned_ns + static_cast<int64_t>(rng() % 3000000) * (i > 0);
    o.latency_ns = static_cast<uint64_t>(latency(rng));
    o.ended_ns = o.sent_ns + static_cast<int64_t>(o.latency_ns);
    o.status = i % 7 == 3 ? 503 : 200;
    o.ok = o.status == 200;
    if (i % 50 == 9) {
      o.status = 0;
      o.error_kind = static_cast<int>(i / 50 % kErrorKinds);
      if (o.error_kind == kErrorConnect) o.sent_ns = -1, o.ended_ns = o.planned_ns;
    }
    o.bytes_out = 100 + i % 900;
    o.bytes_in = o.status ? 90 : 0;
    o.page = static_cast<int64_t>(i % 4) - 1;  // page ids may be negative
    o.worker = static_cast<uint32_t>(i % 3);
    o.user = 1000 + i % 36;
    out.push_back(o);
  }
  return out;
}

ReplayStats tally(const std::vector<ReplayOutcome> &list, size_t from = 0, size_t to = SIZE_MAX) {
  ReplayStats s;
  timeline_begin(&s.timeline, 10000);
  for (int number : {0, 2, 5}) {
    s.workers.emplace_back();
    s.workers.back().number = number, s.workers.back().users = 10;
  }
  for (size_t i = from; i < std::min(to, list.size()); i++) {
    tally_planned(&s, list[i].worker, list[i].planned_ns);
    tally_outcome(&s, list[i]);
  }
  s.start_unix_us = 1795000000000000, s.elapsed_s = 10.5;
  s.planned_span_s = 9.99, s.send_span_s = 10.0;
  return s;
}

// What the JSON report holds but the run's own times, users, stop and rewrites.
std::string digest(ReplayStats s) {
  s.start_unix_us = 0, s.elapsed_s = s.planned_span_s = s.send_span_s = 0;
  s.package_start_ms = s.package_last_ms = -1;
  s.stopped_by = "", s.rewrites.clear();
  for (ReplayWorkerStats &w : s.workers) w.users = 0;
  return replay_report_json(ReplayReportInfo{}, s);
}

TEST(ReplayFigures, ResultsFilesReadBackToTheSameFigures) {
  std::vector<ReplayOutcome> list = outcomes(3000, 1);
  ReplayStats direct = tally(list);
  // The parts and the columns add up: 60 errors (1 in 50), 420 answers 503.
  std::string why;
  EXPECT_TRUE(check_replay_figures(direct, &why)) << why;
  uint64_t failures = 0, latencies = 0, lags = 0, lag_max = 0;
  for (const ReplayColumn &c : direct.timeline.columns) {
    lag_max = std::max(lag_max, c.lag_max_ns);
    for (const auto &[key, n] : c.failures) failures += n;
    latencies += c.latency_ns.total;
    lags += c.lag_ns.total;
  }
  EXPECT_EQ(std::make_tuple(direct.counts.errors + direct.counts.bad_status, failures, latencies,
                            lags, lag_max),
            std::make_tuple(480ul, 480ul, direct.latency_ns.total, direct.lag_ns.total,
                            direct.lag_ns.max));
  int64_t last_planned = 0, last_sent = 0, last_end = 0;  // the spans' and the run's ends
  for (const ReplayOutcome &o : list) {
    last_planned = std::max(last_planned, o.planned_ns);
    last_sent = std::max(last_sent, o.sent_ns);
    last_end = std::max(last_end, o.ended_ns);
  }
  for (const char *name : {"r.jsonl", "r.CSV"}) {
    TestDir d;
    std::string path = d.path + "/" + name, error;
    ReplayResultsFile f;
    ASSERT_TRUE(open_results_file(path, &f, &error)) << error;
    std::string buffer;
    for (const ReplayOutcome &o : list)
      append_result_line(&buffer, f.format, o, std::vector<int>{0, 2, 5}[o.worker]);
    flush_results(&f, &buffer);
    ASSERT_TRUE(close_results_file(&f, &error)) << error;
    std::string text = read_text(path);
    bool csv = text.rfind(kResultsCsvHeader, 0) == 0;
    EXPECT_EQ(csv, name[2] == 'C') << name;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(list.size()) + csv);
    // Empty lines (LF or CR LF) are passed over; in JSON lines, blanks and tabs around tokens.
    size_t middle = 0;
    for (int k = 0; k < 1500; k++) middle = text.find('\n', middle) + 1;
    std::string rest;
    for (char c : text.substr(middle))
      rest += csv                    ? std::string(1, c)
              : c == '{'             ? std::string(" \t{ ")
              : c == ',' || c == ':' ? std::string(" ") + c + "\t"
              : c == '}'             ? std::string(" }\t")
                                     : std::string(1, c);
    std::ofstream(path + ".blanks") << text.substr(0, middle) << "\n\r\n" << rest << "\n";
    for (const std::string &file : {path, path + ".blanks"}) {
      ReplayStats back;
      ASSERT_TRUE(read_results_file(file, &back, &error)) << error;
      for (ReplayWorkerStats &w : back.workers) EXPECT_EQ(w.users, 12u);
      EXPECT_EQ(back.timeline.column_ms, 32u);
      timeline_widen(&back.timeline, direct.timeline.column_ms);
      EXPECT_EQ(digest(back), digest(direct)) << file;
      EXPECT_NEAR(back.planned_span_s, last_planned / 1e9, 1e-6) << file;
      EXPECT_NEAR(back.send_span_s, last_sent / 1e9, 1e-6) << file;
      EXPECT_NEAR(back.elapsed_s, last_end / 1e9, 1e-6) << file;
    }
  }
  std::string line;
  append_result_line(&line, ReplayResultsFormat::kJsonLines, list[9], 0);  // unsent
  append_result_line(&line, ReplayResultsFormat::kCsv, list[3], 5);
  EXPECT_EQ(line,
            "{\"planned_ms\":30.000000,\"sent_ms\":null,\"lag_ms\":null,\"latency_ms\":null,"
            "\"status\":null,\"error\":\"connect\",\"ok\":false,\"bytes_out\":109,\"bytes_in\":0,"
            "\"page\":0,\"worker\":0,\"user\":1009}\n"
            "10.000000,11.390665,1.390665,1.645161,503,,false,103,90,2,5,1003\n");
  // A run whose last line is unanswered ends when that request was planned.
  TestDir d;
  std::ofstream(d.path + "/one") << line.substr(0, line.find('\n') + 1);
  ReplayStats alone;
  ASSERT_TRUE(read_results_file(d.path + "/one", &alone, &why)) << why;
  EXPECT_EQ(alone.elapsed_s, 0.03);
  // Once a write failed the file takes no more lines; a close that fails is a failed write.
  std::string path = d.path + "/r.jsonl", error;
  ReplayResultsFile f, shut;
  ASSERT_TRUE(open_results_file(path, &f, &error)) << error;
  int good = f.fd;
  f.fd = -1;
  std::string buffer = line;
  flush_results(&f, &buffer);
  f.fd = good;
  buffer = line;
  flush_results(&f, &buffer);
  EXPECT_TRUE(buffer.empty());
  EXPECT_FALSE(close_results_file(&f, &error));
  EXPECT_EQ(error, "cannot write " + path + ": Bad file descriptor");
  EXPECT_EQ(read_text(path), "");
  ASSERT_TRUE(open_results_file(path + ".2", &shut, &error)) << error;
  close(shut.fd);
  EXPECT_FALSE(close_results_file(&shut, &error));
  EXPECT_EQ(error, "cannot write " + path + ".2: Bad file descriptor");
}

TEST(ReplayFigures, ResultsFilesThatAreNotSayWhere) {
#define CSV_HEAD \
  "planned_ms,sent_ms,lag_ms,latency_ms,status,error,ok,bytes_out,bytes_in,page,worker,user\n"
  struct Case {
    const char *text;
    const char *error;  // after the path
  };
  const Case cases[] = {
      {"{\"planned_ms\":-1.5}\n", " line 1: planned_ms is no time in ms"},
      {"{\"planned_ms\":\"1.5\",\"sent_ms\":null,\"status\":200,\"ok\":true}\n",
       " line 1: an answer without latency_ms"},
      {"planned_ms,sent_ms\n", ": not a results file (no column lag_ms in its first line)"},
      {"not json\n", ": not a results file (no column planned_ms in its first line)"},
      {"{\"planned_ms\":1.000000,\"sent_ms\":null,\"lag_ms\":null,\"latency_ms\":null,\"status\":"
       "null,\"error\":\"lost\",\"ok\":false,\"bytes_out\":0,\"bytes_in\":0,\"page\":0,"
       "\"worker\":0,\"user\":1}\n",
       " line 1: neither a status nor an error kind"},
      {CSV_HEAD "1,,,,,reset,false,0,0,1,2\n", " line 2: not a CSV line of a results file"},
      {"{\"planned_ms\":1.0,", " line 1: not a JSON line of a results file"},
      {CSV_HEAD "1,1,0,2,99,,false,0,0,1,0,1\nx\n", " line 2: status is no status code"},
      // nanoseconds are the finest a time in ms tells, and every digit is one
      {CSV_HEAD "1,1.0000000001,0,2,200,,true,0,0,1,0,1\n", " line 2: sent_ms is no time in ms"},
      {CSV_HEAD "1,1.000000x,0,2,200,,true,0,0,1,0,1\n", " line 2: sent_ms is no time in ms"},
      {CSV_HEAD "1,1,0,2,200,,true,0,0,1,-1,1\n",
       " line 2: bytes_out, bytes_in, page, worker or user is no number"},
  };
  for (const Case &c : cases) {
    TestDir d;
    std::string path = d.path + "/r";
    std::ofstream(path) << c.text;
    ReplayStats s;
    std::string error;
    EXPECT_FALSE(read_results_file(path, &s, &error)) << c.text;
    EXPECT_EQ(error, path + c.error) << c.text;
  }
  ReplayStats s;
  std::string error;
  TestDir d;
  EXPECT_FALSE(read_results_file(d.path + "/none", &s, &error));
  EXPECT_EQ(error, "cannot open " + d.path + "/none: No such file or directory");
  EXPECT_FALSE(read_results_file(d.path, &s, &error));
  EXPECT_EQ(error.rfind("cannot open " + d.path + ": ", 0), 0u) << error;
  // A regular file whose read fails: this process's memory from address 0.
  EXPECT_FALSE(read_results_file("/proc/self/mem", &s, &error));
  EXPECT_EQ(error, "cannot read /proc/self/mem: Input/output error");
}
#undef CSV_HEAD

// A report's settings: page names, the capture's clock, a rewrite, a threshold checked on s.
ReplayReportInfo report_info(const ReplayStats &s, const char *p99) {
  ReplayReportInfo info;
  info.dir = "/kept/package";
  info.target = "127.0.0.1:8080";
  info.command = "vt_replay replay /kept/package --target 127.0.0.1:8080";
  info.ok_status = default_ok_status();
  info.page_names = {{0, "IService_GetData"}, {1, "IService_Put"}, {-1, "Odd \"name\" <&>"}};
  info.capture_start_ms = 1795000000123;
  info.rewrites = {{"Host", "svc.test"}};
  info.threshold_list.resize(1);
  EXPECT_TRUE(
      parse_percentile_threshold(p99, ThresholdKind::kLatency, &info.threshold_list[0], nullptr));
  info.thresholds = check_replay_thresholds(info.threshold_list, s);
  return info;
}

// A JSON report reads back to the same figures; two parts merge to the whole.
TEST(ReplayFigures, JsonReportsReadBackAndMergeToTheWhole) {
  std::vector<ReplayOutcome> list = outcomes(4000, 2);
  ReplayStats whole = tally(list);
  whole.stopped_by = "duration";
  whole.max_in_flight = 17, whole.bytes_per_in_flight = 4200, whole.retries = 3;
  whole.rewrites = {{3990, 10, 0}};
  ReplayReportInfo info = report_info(whole, "p99=0.5");
  TestDir d;
  std::string json = replay_report_json(info, whole), error;
  std::ofstream(d.path + "/whole.json") << json;
  EXPECT_EQ(json.find(", 0]"), std::string::npos);  // no empty buckets
  ReplayReportInfo info_back;
  ReplayStats back;
  ASSERT_TRUE(read_replay_report(d.path + "/whole.json", &info_back, &back, &error)) << error;
  info_back.thresholds = check_replay_thresholds(info_back.threshold_list, back);
  EXPECT_EQ(replay_report_json(info_back, back), json);
  ReplayReportInfo strict = info;
  ASSERT_TRUE(parse_status_set("3xx", &strict.ok_status, &error)) << error;
  EXPECT_NE(
      replay_report_json(strict, whole).find("\"failed_by_status\": {\"200\": 3361, \"503\": 559}"),
      std::string::npos);
  // The second part started 2.56 s (40 columns) later, over TLS, unchecked.
  std::vector<ReplayOutcome> later(list.begin() + 2000, list.end());
  for (ReplayOutcome &o : later) {
    o.planned_ns -= 2560000000;
    o.sent_ns -= o.sent_ns >= 0 ? 2560000000 : 0;
    o.ended_ns -= 2560000000;
  }
  std::vector<ReplayStats> parts = {tally(list, 0, 2000), tally(later)};
  parts[1].start_unix_us += 2560000;
  parts[0].max_in_flight = 10, parts[0].bytes_per_in_flight = 4200, parts[0].retries = 1;
  parts[1].max_in_flight = 7, parts[1].bytes_per_in_flight = 1000, parts[1].retries = 2;
  parts[0].package_start_ms = 0, parts[0].package_last_ms = 900;
  parts[1].package_start_ms = 700, parts[1].package_last_ms = 800;
  std::vector<ReplayReportInfo> infos(2, info);
  infos[1].tls = true, infos[1].tls_name = "svc.test";
  for (size_t i = 0; i < 2; i++) {
    std::ofstream(d.path + "/part.json", std::ios::trunc) << replay_report_json(infos[i], parts[i]);
    ASSERT_TRUE(read_replay_report(d.path + "/part.json", &infos[i], &parts[i], &error)) << error;
  }
  const std::vector<std::string> names = {"a.json", "b.json"};
  ReplayReportInfo merged_info;
  ReplayStats merged;
  ASSERT_TRUE(merge_replay_reports(infos, parts, names, &merged_info, &merged, &error));
  EXPECT_EQ(digest(merged), digest(whole));
  EXPECT_DOUBLE_EQ(merged.elapsed_s, 2.56 + 10.5);
  EXPECT_EQ(std::make_tuple(merged.start_unix_us, merged.package_start_ms, merged.package_last_ms),
            std::make_tuple(parts[0].start_unix_us, 0l, 900l));
  EXPECT_EQ(
      std::make_tuple(merged_info.command, merged_info.merged_from, merged_info.page_names.at(-1),
                      merged_info.tls, merged_info.tls_verified, merged_info.tls_name),
      std::make_tuple(std::string("vt_replay merge a.json b.json"), names,
                      std::string("Odd \"name\" <&>"), true, false, std::string("svc.test")));
  ASSERT_EQ(merged_info.thresholds.size(), 2u);
  EXPECT_TRUE(merged_info.thresholds[1].threshold.by_default);
  EXPECT_EQ(merged_info.thresholds[0].measured,
            static_cast<double>(histogram_percentile(whole.latency_ns, 99)) / 1e6);
  using Change = std::function<void(std::vector<ReplayReportInfo> &, std::vector<ReplayStats> &)>;
  const std::pair<Change, std::string> refusals[] = {
      {[](auto &, auto &s) { s[1].counts.sent = s[1].counts.planned + 1; },
       "b.json: sent 2001 above planned 2000"},
      {[](auto &, auto &s) { s[0].workers[1].counts.planned++; },
       "a.json: the workers' counts do not add up to the requests'"},
      {[](auto &, auto &s) { s[0].pages.begin()->second.counts.sent++; },
       "a.json: the pages' counts do not add up to the requests'"},
      {[](auto &, auto &s) { s[1].status[200]--; },
       "b.json: the statuses do not add up to the completed requests"},
      {[](auto &i, auto &s) { i[1] = i[0], s[1] = s[0]; },
       "b.json is the report of a.json again (the same run): each report is added up once"},
      {[](auto &i, auto &) { i[0].package_id = "aaaaaaaaaaaaaaaa", i[1].package_id = "bb"; },
       "a.json and b.json are reports of different packages (aaaaaaaaaaaa... and bb...); "
       "--mixed-packages adds them up all the same, their page ids as one"},
      {[](auto &i, auto &) { i[0].package_id = "same", i[1].package_id = "same"; }, ""},
  };
  for (const auto &[change, refusal] : refusals) {
    std::vector<ReplayReportInfo> i = infos;
    std::vector<ReplayStats> s = parts;
    change(i, s);
    EXPECT_EQ(replay_merge_refusal(i, s, names, false), refusal);
  }
  std::vector<ReplayReportInfo> mixed = infos;
  mixed[0].package_id = "a";
  EXPECT_EQ(replay_merge_refusal(mixed, parts, names, true), "");
  std::vector<ReplayStats> huge = parts;
  huge[0].counts.planned = huge[1].counts.planned = UINT64_MAX / 2 + 1;
  ReplayReportInfo other_info;
  ReplayStats other;
  EXPECT_FALSE(merge_replay_reports(infos, huge, names, &other_info, &other, &error));
  EXPECT_EQ(error, "adding b.json: the planned of the reports add up beyond 2^64 - 1");
  // A report with no start (a run that sent nothing) adds and moves nothing.
  infos.push_back(info);
  parts.push_back(ReplayStats{});
  ASSERT_TRUE(merge_replay_reports(infos, parts, {"a.json", "b.json", "c.json"}, &other_info,
                                   &other, &error));
  EXPECT_EQ(digest(other), digest(merged));
  EXPECT_DOUBLE_EQ(other.elapsed_s, 13.06);
  EXPECT_EQ(other.start_unix_us, parts[0].start_unix_us);
  // One report merged alone is itself.
  ASSERT_TRUE(merge_replay_reports({info}, {parts[0]}, {"a.json"}, &other_info, &other, &error));
  EXPECT_EQ(std::make_tuple(other.elapsed_s, other.planned_span_s, other.send_span_s),
            std::make_tuple(parts[0].elapsed_s, parts[0].planned_span_s, parts[0].send_span_s));
  // What is no report is named with the key at fault.
  struct Bad {
    std::string from, to, error;
  };
  const Bad bad[] = {
      {"\"report_format\": 2", "\"report_format\": 1",
       "report_format 1, where this vt_replay reads 2"},
      {"\"tool\": \"vt_replay\"", "\"tool\": \"other\"",
       "not a JSON report of vt_replay (vt_replay --json FILE)"},
      {"\"buckets\": [[", "\"buckets\": [[99999999, 1], [", "a bucket must be [index, count]"},
      {"\"column_ms\": ", "\"column_ms\": 3", "\"column_ms\" must be a power of two"},
      {"\"errors\": 80, \"failed\": 639", "\"errors\": 80, \"failed\": 79",
       "\"failed\" is below \"errors\""},
      {"\"ok_status\": \"2xx,3xx\"", "\"ok_status\": \"2xx,9zz\"", "\"ok_status\": "},
      {"{\"worker\": 2,", "{\"worker\": 0,", "\"workers\" must be in number order"},
      {"\"start_unix_us\": 1795000000000000", "\"start_unix_us\": 1.5",
       "\"start_unix_us\" must be a whole number"},
      {"\"handshake_ns\": {", "\"handshake_ns\": 0, \"x\": {", "handshake_ns must be a histogram"},
      {"\"buckets\": [[", "\"buckets\": [[0, 18446744073709551615], [0, 1], [",
       "the counts of the buckets add up beyond 64 bits"},
      {"\"kind\": \"latency\"", "\"kind\": \"speed\"",
       "a threshold's kind is failed, latency or lag"},
      {"\"tls\": null", "\"tls\": {\"name\": 5}", "\"name\" must be a string"},
      {"\"columns\": [", "\"columns\": [1, ", "a column must be an object"},
      {"{\"column\": 0,", "{\"column\": 512,", "a column lies beyond the timeline"},
      {"\"failures\": {\"connect\": 1", "\"failures\": {\"nope\": 1",
       "a failure is a status or an error kind, not nope"},
  };
  for (const Bad &b : bad) {
    std::string text = json;
    size_t at = text.find(b.from);
    ASSERT_NE(at, std::string::npos) << b.from;
    text.replace(at, b.from.size(), b.to);
    std::ofstream(d.path + "/bad.json", std::ios::trunc) << text;
    ReplayReportInfo i;
    ReplayStats s;
    EXPECT_FALSE(read_replay_report(d.path + "/bad.json", &i, &s, &error)) << b.to;
    EXPECT_NE(error.find(b.error), std::string::npos) << error;
  }
}

// A time on the capture's clock needs both times known (-1: unknown; both known: the kept report).
TEST(ReplayFigures, CaptureClockOnlyWhenBothTimesAreKnown) {
  ReplayStats s = tally(outcomes(10, 1));
  for (auto [capture_ms, package_ms, clock] :
       {std::tuple{int64_t{0}, int64_t{0}, "1970-01-01 00:00:00.000 UTC"}, {-1, 123, ""}}) {
    ReplayReportInfo info;
    info.capture_start_ms = capture_ms;
    s.package_start_ms = package_ms;
    EXPECT_EQ(replay_capture_clock(info, package_ms), clock);
    EXPECT_EQ(render_replay_html(info, s, "t").find(" of the capture<") != std::string::npos,
              *clock != 0)
        << capture_ms << " " << package_ms;
  }
}

// The report and page of a run with every part, and of a run in which nothing ended.
TEST(ReplayFigures, ReportAndPageAreAsKept) {
  std::vector<ReplayOutcome> list;
  for (const ReplayOutcome &o : outcomes(20000, 7))  // over 100 answers a column
    if (o.planned_ns < 4000000000 || o.planned_ns >= 6000000000) list.push_back(o);
  ReplayStats s = tally(list);
  s.start_unix_us += 123456;
  s.package_start_ms = 0, s.package_last_ms = 24975;
  s.max_in_flight = 17, s.bytes_per_in_flight = 4200, s.retries = 3;
  s.rewrites = {{15000, 946, 0}, {0, 0, 120}};
  s.tls.handshakes = 4, s.tls.resumed = 1;
  s.tls.first_failure = "certificate has expired";
  for (uint64_t ns : {1000000, 1000000, 9000000, 9000000}) histogram_add(&s.tls.handshake_ns, ns);
  ReplayReportInfo info = report_info(s, "p99=20"), full = info;
  full.rewrites.push_back({"X-Old", "", true});
  full.speed = 2.5;
  full.tls = true, full.tls_name = "svc.test";
  full.merged_from = {"a.json", "b.json"};
  const std::string dir = VT_REPLAY_TESTDATA;
  expect_as_kept(format_replay_report(full, s), dir + "/report.txt");
  expect_as_kept(render_replay_html(full, s, "kept run"), dir + "/report.html");
  ReplayStats none = tally({});
  none.elapsed_s = 0;  // no throughput
  info.rewrites.clear();
  info.thresholds = check_replay_thresholds(info.threshold_list, none);
  expect_as_kept(format_replay_report(info, none) + "\n" + replay_report_json(info, none),
                 dir + "/empty_report.txt");
  expect_as_kept(render_replay_html(info, none, "kept run"), dir + "/empty_report.html");
}

TEST(ReplayFigures, TimelineColumnsWidenAndLineUp) {
  ReplayTimeline t;
  timeline_begin(&t, 10000);  // 10 s: columns of 64 ms, 157 of them
  EXPECT_EQ(t.column_ms, 64u);
  timeline_begin(&t, 0);
  EXPECT_EQ(t.column_ms, 1u);
  for (int64_t ms : {0, 1, 511, 512, 1023, 5000}) {
    ReplayColumn &c = timeline_column(&t, ms * 1000000);
    c.planned++;
    coarse_add(&c.latency_ns, static_cast<uint64_t>(ms) * 1000);
  }
  uint64_t total = 0;
  for (const ReplayColumn &c : t.columns) total += c.planned + c.latency_ns.total;
  EXPECT_EQ(std::make_tuple(t.column_ms, total, t.columns[0].planned, t.columns[31].planned,
                            t.columns[32].planned),
            std::make_tuple(16ul, 12ul, 2ul, 1ul, 1ul));  // 5000 / 16 < 512
  // Merged 100 ms later into columns of 4 ms: widened and shifted; a finer one widened first.
  ReplayTimeline other, fine;
  timeline_begin(&other, 1000);
  timeline_merge(&other, t, 100);
  EXPECT_EQ(std::make_tuple(other.column_ms, other.columns[6].planned, other.columns.size()),
            std::make_tuple(16ul, 2ul, 319ul));
  timeline_begin(&fine, 0);
  timeline_column(&fine, 40 * 1000000).planned = 3;
  timeline_merge(&other, fine, 0);
  EXPECT_EQ(std::make_pair(other.column_ms, other.columns[2].planned), std::make_pair(16ul, 3ul));
  // Within 1/32 of a sample; the 99th of 100 is not the last; a bucket past 32 bits.
  CoarseHistogram h, tail, many;
  for (uint64_t v : {7ull, 1000ull, 123456789ull}) coarse_add(&h, v);
  EXPECT_EQ(coarse_percentile(h, 1), 7u);
  EXPECT_NEAR(static_cast<double>(coarse_percentile(h, 50)), 1000, 1000 * kCoarseRelativeError);
  EXPECT_NEAR(static_cast<double>(coarse_percentile(h, 100)), 123456789,
              123456789 * kCoarseRelativeError);
  coarse_add(&tail, 10, 99);
  coarse_add(&tail, 1000000, 1);
  EXPECT_EQ(coarse_percentile(tail, 99), coarse_percentile(tail, 1));
  EXPECT_GT(coarse_percentile(tail, 99.5), 900000u);
  coarse_add(&many, 10, 5000000000);
  coarse_add(&many, 1000000, 1000000000);
  EXPECT_EQ(coarse_percentile(many, 80), 10u);
  // A bucket past the last, or below the first, is refused.
  int last = coarse_bucket(UINT64_MAX);
  EXPECT_TRUE(coarse_add_to_bucket(&h, last, 1));
  EXPECT_FALSE(coarse_add_to_bucket(&h, last + 1, 1) || coarse_add_to_bucket(&h, -1, 1));
}

TEST(ReplayFigures, ProgressLineFitsAndSaysWhatIsLeft) {
  ReplayProgress p{.elapsed_s = 83.7, .planned_s = 180, .due = 461, .total = 1000};
  p.capture_ms = 1795000000123, p.sent = 460, p.done = 455, p.in_flight = 5, p.failed = 2;
  p.rate = 412.4, p.lag_max_ms = 0.2149;
  ReplayProgress one{.planned_s = 180, .due = 1, .total = 1, .sent = 1, .in_flight = 1, .rate = 1};
  ReplayProgress slow = p, done = p;
  one.lag_max_ms = 0.2149;
  done.due = done.total;
  done.in_flight = 0;
  const std::tuple<ReplayProgress, size_t, std::string> cases[] = {
      {p, 0,
       "vt_replay: 0:01:23 of 0:03:00 (46.5%), sent 460, done 455, in flight 5, failed 2, "
       "412/s, ETA 0:01:36, lag max 0.21 ms, capture 2026-11-18 11:06:40 UTC"},
      {p, 80, "vt_replay: 0:01:23 of 0:03:00 (46.5%), sent 460, done 455, in flight 5"},
      {one, 0,
       "vt_replay: 0:00:00 of 0:03:00 (0.0%), sent 1, done 0, in flight 1, failed 0, 1.0/s, "
       "all sent, awaiting answers, lag max 0.21 ms"},
      {done, 0,
       "vt_replay: 0:01:23 of 0:03:00 (46.5%), sent 460, done 455, in flight 0, failed 2, "
       "412/s, all sent, lag max 0.21 ms, capture 2026-11-18 11:06:40 UTC"},
  };
  for (const auto &[progress, width, line] : cases)
    EXPECT_EQ(format_replay_progress(progress, width), line);
  for (auto [rate, shown] : {std::pair{0.5, " 0.5/s,"}, {9.94, " 9.9/s,"}, {10.0, " 10/s,"}}) {
    slow.rate = rate;
    EXPECT_NE(format_replay_progress(slow, 0).find(shown), std::string::npos) << rate;
  }
}

}  // namespace
