// The end report of vt_replay, as text and as JSON. Each part of the report
// is written by its own function from the figures (ReplayStats) and what the
// run was asked to do (ReplayReportInfo).
#ifndef VT_TOOLS_REPLAY_REPLAY_REPORT_H_
#define VT_TOOLS_REPLAY_REPLAY_REPORT_H_

#include <stdio.h>

#include <string>
#include <vector>

#include "tools/replay/replay_engine.h"
#include "tools/replay/replay_options.h"
#include "tools/replay/replay_thresholds.h"

struct ReplayReportInfo {
  std::string dir, target, command;
  double speed = 1;
  ReplayStatusSet ok_status;
  bool tls = false;       // an https:// target
  bool tls_verified = false;
  std::string tls_name;  // the name the certificate was checked for
  std::vector<ReplayHeaderRule> rewrites;
  std::vector<ReplayThresholdResult> thresholds;
};

// What the report needs besides the figures; the thresholds are checked here.
ReplayReportInfo replay_report_info(const ReplayOptions &o, const ReplayTarget &t,
                                    const ReplayStats &s);

// True when no threshold was crossed.
bool replay_passed(const ReplayReportInfo &info);

void print_replay_report(FILE *out, const ReplayReportInfo &info, const ReplayStats &s);
std::string replay_report_json(const ReplayReportInfo &info, const ReplayStats &s);

#endif  // VT_TOOLS_REPLAY_REPLAY_REPORT_H_
