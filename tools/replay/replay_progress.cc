#include "tools/replay/replay_progress.h"

#include <stdio.h>

#include <algorithm>
#include <vector>

#include "base/core/utc_time.h"
#include "base/html/chart.h"

std::string format_clock_duration(double seconds) {
  unsigned long s = seconds > 0 ? static_cast<unsigned long>(seconds) : 0;
  char buf[48];
  snprintf(buf, sizeof buf, "%lu:%02lu:%02lu", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

std::string format_replay_progress(const ReplayProgress &p, size_t width) {
  char buf[96];
  std::vector<std::string> fields;
  // The time gone and its share, both of the same schedule (to its last
  // request, or to --duration when that ends it first).
  double share = p.planned_s > 0 ? std::min(1.0, p.elapsed_s / p.planned_s) : 1.0;
  snprintf(buf, sizeof buf, " (%.1f%%)", 100 * share);
  fields.push_back(format_clock_duration(p.elapsed_s) + " of " +
                   format_clock_duration(p.planned_s) + buf);
  fields.push_back("sent " + format_count(p.sent));
  fields.push_back("done " + format_count(p.done));
  fields.push_back("in flight " + format_count(p.in_flight));
  fields.push_back("failed " + format_count(p.failed));
  // A slow replay sends less than ten a second: one decimal, not "0/s".
  snprintf(buf, sizeof buf, p.rate < 10 ? "%.1f/s" : "%.0f/s", p.rate);
  fields.push_back(buf);
  if (p.due >= p.total)
    fields.push_back(p.in_flight ? "all sent, awaiting answers" : "all sent");
  else
    fields.push_back("ETA " + format_clock_duration(p.planned_s - p.elapsed_s));
  if (p.speed > 0) {
    snprintf(buf, sizeof buf, p.speed < 100 ? "speed %.2fx" : "speed %.0fx", p.speed);
    fields.push_back(buf);
  }
  snprintf(buf, sizeof buf, "lag max %.2f ms", p.lag_max_ms);
  fields.push_back(buf);
  if (p.capture_ms >= 0) {
    std::string clock = vtlb_utc_text(static_cast<uint64_t>(p.capture_ms));
    // "2026-11-18 11:22:33.123 UTC" -> "capture 2026-11-18 11:22:33 UTC"
    if (clock.size() > 23) clock = clock.substr(0, 19) + " UTC";
    fields.push_back("capture " + clock);
  }
  std::string line = "vt_replay: ";
  for (size_t i = 0; i < fields.size(); i++) {
    std::string next = (i ? ", " : "") + fields[i];
    if (width > 0 && line.size() + next.size() + 1 > width) break;
    line += next;
  }
  return line;
}
