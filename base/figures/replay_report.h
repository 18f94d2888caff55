// The end report of vt_replay, as text and as JSON. Each part of the report
// is written by its own function from the figures (ReplayStats) and what the
// run was asked to do (ReplayReportInfo). The JSON report also carries every
// histogram's buckets and the timeline, so that `vt_replay merge` can add
// reports up exactly and draw the page of the whole.
#ifndef VT_BASE_FIGURES_REPLAY_REPORT_H_
#define VT_BASE_FIGURES_REPLAY_REPORT_H_

#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "base/figures/replay_stats.h"
#include "base/figures/replay_thresholds.h"
#include "base/figures/rewrite_rules.h"

struct Manifest;

// The version of the JSON report's layout, "report_format".
constexpr int kReplayReportFormat = 2;

struct ReplayReportInfo {
  std::string dir, target, command;
  double speed = 1;
  std::string mode;  // replay_mode_text: "loop x3, users x4"; empty: each request once, in pace
  ReplayStatusSet ok_status;
  bool tls = false;  // an https:// target
  bool tls_verified = false;
  std::string tls_name;  // the name the certificate was checked for
  std::vector<ReplayHeaderRule> rewrites;
  std::vector<ReplayPathRule> path_rules;         // --rewrite-path
  std::vector<ReplayThreshold> threshold_list;    // as read back from a JSON report, for a merge
  std::vector<ReplayThresholdResult> thresholds;  // checked against the figures
  std::string shard;                              // "0/2"; empty without --shard
  int64_t capture_start_ms = -1;              // package time 0 on the capture's clock; -1: unknown
  std::map<int64_t, std::string> page_names;  // service names by page id, where known
  std::string package_id;                     // package_identity of its manifest; empty: none
  std::vector<std::string> merged_from;       // the reports a merge added up
};

// The service names and the capture's clock time of the package's manifest.
void add_manifest_to_report(const Manifest &m, ReplayReportInfo *info);

// True when no threshold was crossed.
bool replay_passed(const ReplayReportInfo &info);
// True when the run was given a threshold (not only max-failed 0 by default).
bool replay_thresholds_given(const ReplayReportInfo &info);
// The verdict line of the text, the page and the JSON report: "passed: 2
// thresholds held", "FAILED: 1 of 2 thresholds crossed", or, given no
// threshold, the failed share ("no thresholds set: 0 of 40 failed, 0.0 %",
// "FAILED: no thresholds set: 3 of 40 failed, 7.5 %; without --max-failed a
// failed request fails the run").
std::string replay_verdict(const ReplayReportInfo &info, const ReplayStats &s);

// The page's service name, or "" when unknown.
std::string replay_page_name(const ReplayReportInfo &info, int64_t page);
// The capture's clock time of a package time, "" when unknown.
std::string replay_capture_clock(const ReplayReportInfo &info, int64_t package_ms);

// (count - 1) / span: the rate of count requests over span_s seconds from
// the first to the last; negative (no rate) with fewer than two or no span.
double replay_rate(uint64_t count, double span_s);

void print_replay_report(FILE *out, const ReplayReportInfo &info, const ReplayStats &s);
std::string format_replay_report(const ReplayReportInfo &info, const ReplayStats &s);
std::string replay_report_json(const ReplayReportInfo &info, const ReplayStats &s);

// A JSON string literal (base/package/json_string.h).
std::string replay_json_string(const std::string &s);

#endif  // VT_BASE_FIGURES_REPLAY_REPORT_H_
