#include "tools/replay/replay_report.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include "base/core/safe_file.h"

namespace {

double ms(uint64_t ns) {
  return static_cast<double>(ns) / 1e6;
}

double rate(uint64_t count, double span_s) {
  return span_s > 0 && count > 1 ? static_cast<double>(count - 1) / span_s : 0;
}

void appendf(std::string *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string *out, const char *format, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n > 0) out->append(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

std::string json_string(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      appendf(&out, "\\u%04x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void json_counts(std::string *out, const ReplayCounts &c, bool with_planned) {
  if (with_planned) appendf(out, "\"planned\": %lu, ", static_cast<unsigned long>(c.planned));
  appendf(out, "\"sent\": %lu, \"completed\": %lu, \"errors\": %lu",
          static_cast<unsigned long>(c.sent), static_cast<unsigned long>(c.completed),
          static_cast<unsigned long>(c.errors));
}

}  // namespace

void print_replay_report(FILE *out, const ReplayReportInfo &info, const ReplayStats &s) {
  const ReplayCounts &c = s.counts;
  fprintf(out, "vt_replay: report: %s against %s, speed %g, stopped by %s after %.3f s\n",
          info.dir.c_str(), info.target.c_str(), info.speed, s.stopped_by, s.elapsed_s);
  fprintf(out, "  requests     planned %lu, sent %lu, completed %lu, errors %lu\n",
          static_cast<unsigned long>(c.planned), static_cast<unsigned long>(c.sent),
          static_cast<unsigned long>(c.completed), static_cast<unsigned long>(c.errors));
  fprintf(out, "  errors       connect %lu, reset %lu, timeout %lu, parse %lu\n",
          static_cast<unsigned long>(s.errors[kErrorConnect]),
          static_cast<unsigned long>(s.errors[kErrorReset]),
          static_cast<unsigned long>(s.errors[kErrorTimeout]),
          static_cast<unsigned long>(s.errors[kErrorParse]));
  fprintf(out, "  status      ");
  if (s.status.empty()) fprintf(out, " none");
  for (const auto &[code, n] : s.status)
    fprintf(out, " %d: %lu", code, static_cast<unsigned long>(n));
  fprintf(out, "\n");
  fprintf(out, "  rate         planned %.1f/s, achieved %.1f/s\n",
          rate(c.planned, s.planned_span_s), rate(c.sent, s.send_span_s));
  const LogHistogram &l = s.latency_ns, &g = s.lag_ns;
  fprintf(out, "  latency ms   p50 %.3f, p90 %.3f, p99 %.3f, p99.9 %.3f, max %.3f\n",
          ms(histogram_percentile(l, 50)), ms(histogram_percentile(l, 90)),
          ms(histogram_percentile(l, 99)), ms(histogram_percentile(l, 99.9)),
          ms(histogram_percentile(l, 100)));
  fprintf(out, "  lag ms       p50 %.3f, p99 %.3f, max %.3f\n", ms(histogram_percentile(g, 50)),
          ms(histogram_percentile(g, 99)), ms(histogram_percentile(g, 100)));
  fprintf(out, "  percentiles within %.1f%% (log-bucketed histogram); max exact\n",
          kHistogramRelativeError * 100);
  fprintf(out, "  in flight    at most %lu (%zu bytes each), %lu sent again on a new connection\n",
          static_cast<unsigned long>(s.max_in_flight), replay_bytes_per_connection(),
          static_cast<unsigned long>(s.retries));
  fprintf(out, "  %-6s %10s %10s %10s\n", "page", "sent", "completed", "errors");
  for (const auto &[page, pc] : s.pages)
    fprintf(out, "  %-6ld %10lu %10lu %10lu\n", static_cast<long>(page),
            static_cast<unsigned long>(pc.sent), static_cast<unsigned long>(pc.completed),
            static_cast<unsigned long>(pc.errors));
  fprintf(out, "  %-6s %8s %10s %10s %10s %10s\n", "worker", "users", "planned", "sent",
          "completed", "errors");
  for (const ReplayWorkerStats &w : s.workers)
    fprintf(out, "  %-6d %8lu %10lu %10lu %10lu %10lu\n", w.number,
            static_cast<unsigned long>(w.users), static_cast<unsigned long>(w.counts.planned),
            static_cast<unsigned long>(w.counts.sent),
            static_cast<unsigned long>(w.counts.completed),
            static_cast<unsigned long>(w.counts.errors));
}

std::string replay_report_json(const ReplayReportInfo &info, const ReplayStats &s) {
  std::string out = "{\n";
  appendf(&out, "  \"package\": %s,\n  \"target\": %s,\n", json_string(info.dir).c_str(),
          json_string(info.target).c_str());
  appendf(&out, "  \"speed\": %g,\n  \"stopped_by\": \"%s\",\n  \"elapsed_s\": %.6f,\n", info.speed,
          s.stopped_by, s.elapsed_s);
  out += "  \"requests\": {";
  json_counts(&out, s.counts, true);
  out += "},\n  \"errors\": {";
  for (int k = 0; k < kErrorKinds; k++)
    appendf(&out, "%s\"%s\": %lu", k ? ", " : "", kReplayErrorNames[k],
            static_cast<unsigned long>(s.errors[k]));
  out += "},\n  \"status\": {";
  bool first = true;
  for (const auto &[code, n] : s.status) {
    appendf(&out, "%s\"%d\": %lu", first ? "" : ", ", code, static_cast<unsigned long>(n));
    first = false;
  }
  out += "},\n  \"pages\": {";
  first = true;
  for (const auto &[page, pc] : s.pages) {
    appendf(&out, "%s\n    \"%ld\": {", first ? "" : ",", static_cast<long>(page));
    json_counts(&out, pc, false);
    out += "}";
    first = false;
  }
  out += first ? "},\n" : "\n  },\n";
  appendf(&out, "  \"rate\": {\"planned_per_s\": %.3f, \"achieved_per_s\": %.3f},\n",
          rate(s.counts.planned, s.planned_span_s), rate(s.counts.sent, s.send_span_s));
  const LogHistogram &l = s.latency_ns, &g = s.lag_ns;
  appendf(&out,
          "  \"latency_ms\": {\"p50\": %.6f, \"p90\": %.6f, \"p99\": %.6f, \"p99_9\": %.6f, "
          "\"max\": %.6f},\n",
          ms(histogram_percentile(l, 50)), ms(histogram_percentile(l, 90)),
          ms(histogram_percentile(l, 99)), ms(histogram_percentile(l, 99.9)),
          ms(histogram_percentile(l, 100)));
  appendf(&out, "  \"lag_ms\": {\"p50\": %.6f, \"p99\": %.6f, \"max\": %.6f},\n",
          ms(histogram_percentile(g, 50)), ms(histogram_percentile(g, 99)),
          ms(histogram_percentile(g, 100)));
  appendf(&out, "  \"percentile_relative_error\": %.6f,\n", kHistogramRelativeError);
  appendf(&out, "  \"max_in_flight\": %lu,\n  \"bytes_per_in_flight\": %zu,\n  \"retries\": %lu,\n",
          static_cast<unsigned long>(s.max_in_flight), replay_bytes_per_connection(),
          static_cast<unsigned long>(s.retries));
  out += "  \"workers\": [";
  first = true;
  for (const ReplayWorkerStats &w : s.workers) {
    appendf(&out, "%s\n    {\"worker\": %d, \"users\": %lu, ", first ? "" : ",", w.number,
            static_cast<unsigned long>(w.users));
    json_counts(&out, w.counts, true);
    out += "}";
    first = false;
  }
  out += first ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}
