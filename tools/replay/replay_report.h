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

// Writes text into path, a file that must not exist yet (no symlink is
// followed). False with *error on any failed or short write or close.
bool write_new_file(const std::string &path, const std::string &text, std::string *error);

#endif  // VT_TOOLS_REPLAY_REPLAY_REPORT_H_
