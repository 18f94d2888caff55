// `vt_replay merge A.json B.json ... [--json FILE] [--html FILE]`: adds up
// the JSON reports of shards (or of any runs) into the report of the whole:
// counts add, histograms merge bucket by bucket, so that the percentiles are
// those of all the requests within the histogram's error; timelines line up
// on the reports' starts. The thresholds of the reports are checked again
// against the whole.
#ifndef VT_TOOLS_REPLAY_REPLAY_MERGE_H_
#define VT_TOOLS_REPLAY_REPLAY_MERGE_H_

#include <string>
#include <vector>

#include "base/figures/replay_report.h"

// Adds up reports read with read_replay_report, in the order given, into
// *info and *s; `paths` name them in the merged report. False with *error
// when a count would pass 2^64 - 1.
bool merge_replay_reports(const std::vector<ReplayReportInfo> &infos,
                          const std::vector<ReplayStats> &stats,
                          const std::vector<std::string> &paths, ReplayReportInfo *info,
                          ReplayStats *s, std::string *error);

// Why the reports cannot be added up, "" when they can: figures that do not
// hold together, the same report twice (the same file, or the same run:
// its start, length, command, shard and counts), reports of different
// packages (by the identity of their manifests) unless mixed_packages.
std::string replay_merge_refusal(const std::vector<ReplayReportInfo> &infos,
                                 const std::vector<ReplayStats> &stats,
                                 const std::vector<std::string> &paths, bool mixed_packages);

// The command; argv[0] is "merge". Returns the exit status: 0 passed, 1 a
// report unreadable or refused or an output not written, 2 wrong use, 3 a
// threshold crossed by the whole (given none: a request failed).
int replay_merge_main(int argc, char **argv);

void print_replay_merge_usage(FILE *out);

#endif  // VT_TOOLS_REPLAY_REPLAY_MERGE_H_
