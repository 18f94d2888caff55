// The page of a replay run: one self-contained HTML page (inline SVG and
// CSS, no script, nothing fetched) in the style of `vt_package plot`: the
// report's figures, planned against achieved rate, latency p50 and p99,
// failures by status or error kind and the schedule's lag over time, and the
// tables of pages and workers.
#ifndef VT_BASE_FIGURES_REPLAY_HTML_H_
#define VT_BASE_FIGURES_REPLAY_HTML_H_

#include <string>

#include "base/figures/replay_report.h"

// The charts of the page, by the aria-label of each: a test of the page
// looks for every one of them.
extern const char *const kReplayCharts[4];

std::string render_replay_html(const ReplayReportInfo &info, const ReplayStats &s,
                               const std::string &title);

#endif  // VT_BASE_FIGURES_REPLAY_HTML_H_
