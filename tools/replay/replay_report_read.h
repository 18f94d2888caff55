// Reading a JSON report of vt_replay back (for `vt_replay merge`): the
// counts, the histograms from their buckets, the timeline, and what the run
// was asked to do. Percentiles and rates are not read: they are made again
// from the figures.
#ifndef VT_TOOLS_REPLAY_REPLAY_REPORT_READ_H_
#define VT_TOOLS_REPLAY_REPLAY_REPORT_READ_H_

#include <string>

#include "base/figures/replay_report.h"

// False with *error naming the file and the key at fault.
bool read_replay_report(const std::string &path, ReplayReportInfo *info, ReplayStats *s,
                        std::string *error);

#endif  // VT_TOOLS_REPLAY_REPLAY_REPORT_READ_H_
