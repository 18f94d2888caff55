// The end report of vt_replay, as text and as JSON.
#ifndef VT_TOOLS_REPLAY_REPLAY_REPORT_H_
#define VT_TOOLS_REPLAY_REPLAY_REPORT_H_

#include <stdio.h>

#include <string>

#include "tools/replay/replay_engine.h"

struct ReplayReportInfo {
  std::string dir, target;
  double speed = 1;
};

void print_replay_report(FILE *out, const ReplayReportInfo &info, const ReplayStats &s);
std::string replay_report_json(const ReplayReportInfo &info, const ReplayStats &s);

#endif  // VT_TOOLS_REPLAY_REPLAY_REPORT_H_
