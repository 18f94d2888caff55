#include "tools/package/profile_report.h"

#include <math.h>
#include <stdio.h>

#include "base/core/utc_time.h"
#include "base/package/json_string.h"

namespace {

std::string printf_text(const char *format, double value) {
  char buf[64];
  snprintf(buf, sizeof buf, format, value);
  return buf;
}

}  // namespace

std::string format_duration(uint64_t ms) {
  char buf[64];
  snprintf(buf, sizeof buf, "%lu:%02lu:%02lu.%03lu", static_cast<unsigned long>(ms / 3600000),
           static_cast<unsigned long>(ms / 60000 % 60), static_cast<unsigned long>(ms / 1000 % 60),
           static_cast<unsigned long>(ms % 1000));
  return buf;
}

double imbalance_percent(uint64_t requests, uint64_t total, int workers) {
  if (total == 0 || workers <= 0) return 0;
  double mean = static_cast<double>(total) / workers;
  return (static_cast<double>(requests) - mean) / mean * 100.0;
}

std::string format_imbalance(uint64_t requests, uint64_t total, int workers) {
  double pct = imbalance_percent(requests, total, workers);
  // Rounded first, so that no "-0.0%" shows.
  double rounded = round(pct * 10) / 10;
  if (rounded == 0) return "0.0%";
  return printf_text("%+.1f%%", rounded);
}

std::string format_profile_text(const Profile &p, const std::string &title) {
  std::string out;
  char line[512];
  auto add = [&](const char *label, const std::string &value) {
    snprintf(line, sizeof line, "  %-24s %s\n", label, value.c_str());
    out += line;
  };
  out += title + "\n";
  add("workers", std::to_string(p.workers));
  add("users", format_count(p.users));
  add("requests", format_count(p.requests));
  add("bytes", format_count(p.bytes));
  add("duration", format_duration(p.duration_ms) + " (" + format_count(p.duration_ms) + " ms)");
  if (p.has_clock_and_names)
    add("captured", capture_clock(p, p.first_ms) + " to " + capture_clock(p, p.last_ms));
  std::string peak_at = format_duration(p.peak_bucket_start_ms);
  if (p.has_clock_and_names) peak_at += ", " + capture_clock(p, p.peak_bucket_start_ms);
  add("requests per second", "mean " + format_rate(p.rps_mean) + ", peak " +
                                 format_rate(p.rps_peak) + " (buckets of " +
                                 format_rate(static_cast<double>(p.bucket_ms) / 1000.0) +
                                 " s; the peak at " + peak_at + ")");
  add("requests per minute",
      "mean " + format_rate(p.rpm_mean) + ", peak " + format_count(p.rpm_peak));
  add("users active at once", format_count(p.max_active_users) + " at most");
  add("body bytes", format_count(p.body_bytes) + "; median " + format_count(p.body_median) +
                        ", 95th percentile " + format_count(p.body_p95) + ", largest " +
                        format_count(p.body_max));
  out += "\n  worker      users   requests          bytes  vs mean\n";
  for (const WorkerFigures &w : p.per_worker) {
    snprintf(line, sizeof line, "  %6d %10s %10s %14s  %7s\n", w.worker,
             format_count(w.users).c_str(), format_count(w.requests).c_str(),
             format_count(w.bytes).c_str(),
             format_imbalance(w.requests, p.requests, p.workers).c_str());
    out += line;
  }
  out += p.has_clock_and_names ? "\n    page   requests          bytes   share  service\n"
                               : "\n    page   requests          bytes   share\n";
  for (const PageFigures &pg : p.per_page) {
    double share = p.requests ? 100.0 * static_cast<double>(pg.requests) / p.requests : 0;
    snprintf(line, sizeof line, "  %6d %10s %14s  %5.1f%%", pg.page,
             format_count(pg.requests).c_str(), format_count(pg.bytes).c_str(), share);
    out += line;
    if (p.has_clock_and_names) out += "  " + page_name(p, pg.page);
    out += "\n";
  }
  uint64_t rejected = 0;
  for (const auto &[code, count] : p.rejected_by_code) rejected += count;
  out += "\n  rejected records: " + format_count(rejected) + "\n";
  for (const auto &[code, count] : p.rejected_by_code) {
    snprintf(line, sizeof line, "    code %d %10s\n", code, format_count(count).c_str());
    out += line;
  }
  return out;
}

std::string capture_clock(const Profile &p, uint64_t send_ms) {
  return vtlb_utc_text(p.capture_start_ms + send_ms);
}

std::string format_profile_json_members(const Profile &p) {
  std::string out;
  auto num = [&](const char *key, const std::string &value, bool first = false) {
    if (!first) out += ",";
    out += "\"";
    out += key;
    out += "\":" + value;
  };
  num("workers", std::to_string(p.workers), true);
  num("users", std::to_string(p.users));
  num("requests", std::to_string(p.requests));
  num("bytes", std::to_string(p.bytes));
  num("duration_ms", std::to_string(p.duration_ms));
  if (p.has_clock_and_names) {
    num("capture_start_ms", std::to_string(p.capture_start_ms));
    num("capture_start", json_string(vtlb_utc_iso(p.capture_start_ms, true)));
  }
  num("bucket_seconds", format_rate(static_cast<double>(p.bucket_ms) / 1000.0));
  num("rps_mean", format_rate(p.rps_mean));
  num("rps_peak", format_rate(p.rps_peak));
  num("rpm_mean", format_rate(p.rpm_mean));
  num("rpm_peak", std::to_string(p.rpm_peak));
  num("max_active_users", std::to_string(p.max_active_users));
  num("body_bytes", std::to_string(p.body_bytes));
  num("body_median", std::to_string(p.body_median));
  num("body_p95", std::to_string(p.body_p95));
  num("body_max", std::to_string(p.body_max));
  std::string list = "[";
  for (const WorkerFigures &w : p.per_worker) {
    if (list.size() > 1) list += ",";
    list += "{\"worker\":" + std::to_string(w.worker) + ",\"users\":" + std::to_string(w.users) +
            ",\"requests\":" + std::to_string(w.requests) +
            ",\"bytes\":" + std::to_string(w.bytes) + ",\"imbalance_pct\":" +
            format_rate(round(imbalance_percent(w.requests, p.requests, p.workers) * 10) / 10) +
            "}";
  }
  num("per_worker", list + "]");
  list = "[";
  for (const PageFigures &pg : p.per_page) {
    if (list.size() > 1) list += ",";
    list += "{\"page\":" + std::to_string(pg.page);
    if (p.has_clock_and_names) list += ",\"name\":" + json_string(page_name(p, pg.page));
    list += ",\"requests\":" + std::to_string(pg.requests) +
            ",\"bytes\":" + std::to_string(pg.bytes) + "}";
  }
  num("per_page", list + "]");
  list = "{";
  for (const auto &[code, count] : p.rejected_by_code) {
    if (list.size() > 1) list += ",";
    list += '"';
    list += std::to_string(code);
    list += "\":";
    list += std::to_string(count);
  }
  num("rejected_by_code", list + "}");
  return out;
}
