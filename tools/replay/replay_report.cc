#include "tools/replay/replay_report.h"

#include <stdarg.h>
#include <string.h>

namespace {

double ms(uint64_t ns) {
  return static_cast<double>(ns) / 1e6;
}

double rate(uint64_t count, double span_s) {
  return span_s > 0 && count > 1 ? static_cast<double>(count - 1) / span_s : 0;
}

unsigned long ul(uint64_t v) {
  return static_cast<unsigned long>(v);
}

void appendf(std::string *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string *out, const char *format, ...) {
  va_list ap, again;
  va_start(ap, format);
  va_copy(again, ap);
  int n = vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  if (n > 0) {
    size_t at = out->size();
    out->resize(at + static_cast<size_t>(n) + 1);
    vsnprintf(out->data() + at, static_cast<size_t>(n) + 1, format, again);
    out->resize(at + static_cast<size_t>(n));
  }
  va_end(again);
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

uint64_t ended(const ReplayCounts &c) {
  return c.completed + c.errors;
}

// Answers whose status does not count as success, per status.
std::vector<std::pair<int, uint64_t>> failed_statuses(const ReplayReportInfo &info,
                                                      const ReplayStats &s) {
  std::vector<std::pair<int, uint64_t>> out;
  for (const auto &[code, n] : s.status)
    if (!status_is_ok(info.ok_status, code)) out.emplace_back(code, n);
  return out;
}

const char *threshold_kind(ThresholdKind k) {
  return k == ThresholdKind::kFailed ? "failed" : k == ThresholdKind::kLatency ? "latency" : "lag";
}

// ---- text, part by part

void text_counts(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  const ReplayCounts &c = s.counts;
  appendf(out, "  requests     planned %lu, sent %lu, completed %lu, errors %lu\n", ul(c.planned),
          ul(c.sent), ul(c.completed), ul(c.errors));
  appendf(out, "  errors      ");
  for (int k = 0; k < kErrorKinds; k++)
    appendf(out, "%s %s %lu", k ? "," : "", kReplayErrorNames[k], ul(s.errors[k]));
  appendf(out, "\n  status      ");
  if (s.status.empty()) appendf(out, " none");
  bool first = true;
  for (const auto &[code, n] : s.status) {
    appendf(out, "%s %d: %lu", first ? "" : ",", code, ul(n));
    first = false;
  }
  appendf(out, "\n  failed       %lu (", ul(replay_failed(c)));
  for (const auto &[code, n] : failed_statuses(info, s)) appendf(out, "status %d: %lu; ", code, ul(n));
  appendf(out, "errors %lu), ok statuses %s, success ratio ", ul(c.errors), info.ok_status.text.c_str());
  if (ended(c) == 0)
    appendf(out, "- (no request ended)\n");
  else
    appendf(out, "%.4f (%lu of %lu)\n", 1 - replay_failed_ratio(s),
            ul(ended(c) - replay_failed(c)), ul(ended(c)));
}

void text_timing(std::string *out, const ReplayStats &s) {
  const ReplayCounts &c = s.counts;
  appendf(out, "  rate         planned %.1f/s, achieved %.1f/s\n", rate(c.planned, s.planned_span_s),
          rate(c.sent, s.send_span_s));
  const LogHistogram &l = s.latency_ns, &g = s.lag_ns;
  appendf(out, "  latency ms   p50 %.3f, p90 %.3f, p99 %.3f, p99.9 %.3f, max %.3f\n",
          ms(histogram_percentile(l, 50)), ms(histogram_percentile(l, 90)),
          ms(histogram_percentile(l, 99)), ms(histogram_percentile(l, 99.9)),
          ms(histogram_percentile(l, 100)));
  appendf(out, "  lag ms       p50 %.3f, p99 %.3f, max %.3f\n", ms(histogram_percentile(g, 50)),
          ms(histogram_percentile(g, 99)), ms(histogram_percentile(g, 100)));
  appendf(out, "  percentiles within %.1f%% (log-bucketed histogram); max exact\n",
          kHistogramRelativeError * 100);
}

void text_tls(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  if (!info.tls) return;
  const ReplayTlsStats &t = s.tls;
  appendf(out, "  tls          handshakes %lu, resumed %lu, failed %lu; ", ul(t.handshakes),
          ul(t.resumed), ul(s.errors[kErrorTls]));
  if (info.tls_verified)
    appendf(out, "certificate checked for %s\n", info.tls_name.c_str());
  else
    appendf(out, "certificate NOT checked (--insecure)\n");
  if (!t.first_failure.empty()) appendf(out, "  tls failure  %s\n", t.first_failure.c_str());
  const LogHistogram &h = t.handshake_ns;
  appendf(out, "  handshake ms p50 %.3f, p99 %.3f, max %.3f (not in latency; in lag)\n",
          ms(histogram_percentile(h, 50)), ms(histogram_percentile(h, 99)),
          ms(histogram_percentile(h, 100)));
}

void text_rewrites(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  if (info.rewrites.empty()) {
    appendf(out, "  rewrites     none: every request sent as the package holds it\n");
    return;
  }
  for (size_t r = 0; r < info.rewrites.size(); r++) {
    const ReplayHeaderRule &rule = info.rewrites[r];
    const ReplayRewriteTally &t = s.rewrites[r];
    out->append(r == 0 ? "  rewrites     " : "               ");
    if (rule.remove)
      appendf(out, "%s: removed from %lu requests\n", rule.name.c_str(), ul(t.removed));
    else
      appendf(out, "%s: %s: replaced in %lu requests, added to %lu\n", rule.name.c_str(),
              rule.value.c_str(), ul(t.replaced), ul(t.added));
  }
}

void text_thresholds(std::string *out, const ReplayReportInfo &info) {
  int crossed = 0;
  for (const ReplayThresholdResult &r : info.thresholds) {
    const ReplayThreshold &t = r.threshold;
    if (t.kind == ThresholdKind::kFailed)
      appendf(out, "  threshold    %s: measured %.4f, %s\n", t.text.c_str(), r.measured,
              r.crossed ? "CROSSED" : "held");
    else
      appendf(out, "  threshold    %s: measured %.3f ms, %s\n", t.text.c_str(), r.measured,
              r.crossed ? "CROSSED" : "held");
    crossed += r.crossed;
  }
  size_t n = info.thresholds.size();
  if (n == 0)
    appendf(out, "  verdict      passed (no threshold set)\n");
  else if (crossed == 0)
    appendf(out, "  verdict      passed: %zu threshold%s held\n", n, n == 1 ? "" : "s");
  else
    appendf(out, "  verdict      FAILED: %d of %zu threshold%s crossed\n", crossed, n,
            n == 1 ? "" : "s");
}

void text_tables(std::string *out, const ReplayStats &s) {
  appendf(out, "  in flight    at most %lu (%zu bytes each), %lu sent again on a new connection\n",
          ul(s.max_in_flight), replay_bytes_per_connection(), ul(s.retries));
  appendf(out, "  %-6s %10s %10s %10s %10s\n", "page", "sent", "completed", "errors", "failed");
  for (const auto &[page, pc] : s.pages)
    appendf(out, "  %-6ld %10lu %10lu %10lu %10lu\n", static_cast<long>(page), ul(pc.sent),
            ul(pc.completed), ul(pc.errors), ul(replay_failed(pc)));
  appendf(out, "  %-6s %8s %10s %10s %10s %10s %10s\n", "worker", "users", "planned", "sent",
          "completed", "errors", "failed");
  for (const ReplayWorkerStats &w : s.workers)
    appendf(out, "  %-6d %8lu %10lu %10lu %10lu %10lu %10lu\n", w.number, ul(w.users),
            ul(w.counts.planned), ul(w.counts.sent), ul(w.counts.completed), ul(w.counts.errors),
            ul(replay_failed(w.counts)));
}

// ---- JSON, part by part

void json_counts(std::string *out, const ReplayCounts &c, bool with_planned) {
  if (with_planned) appendf(out, "\"planned\": %lu, ", ul(c.planned));
  appendf(out, "\"sent\": %lu, \"completed\": %lu, \"errors\": %lu, \"failed\": %lu", ul(c.sent),
          ul(c.completed), ul(c.errors), ul(replay_failed(c)));
}

void json_outcome(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  out->append("  \"errors\": {");
  for (int k = 0; k < kErrorKinds; k++)
    appendf(out, "%s\"%s\": %lu", k ? ", " : "", kReplayErrorNames[k], ul(s.errors[k]));
  out->append("},\n  \"status\": {");
  bool first = true;
  for (const auto &[code, n] : s.status) {
    appendf(out, "%s\"%d\": %lu", first ? "" : ", ", code, ul(n));
    first = false;
  }
  appendf(out, "},\n  \"ok_status\": %s,\n  \"failed_by_status\": {",
          json_string(info.ok_status.text).c_str());
  first = true;
  for (const auto &[code, n] : failed_statuses(info, s)) {
    appendf(out, "%s\"%d\": %lu", first ? "" : ", ", code, ul(n));
    first = false;
  }
  const ReplayCounts &c = s.counts;
  appendf(out, "},\n  \"success\": {\"ended\": %lu, \"ok\": %lu, \"failed\": %lu, \"ratio\": ",
          ul(ended(c)), ul(ended(c) - replay_failed(c)), ul(replay_failed(c)));
  if (ended(c) == 0)
    out->append("null},\n");
  else
    appendf(out, "%.6f},\n", 1 - replay_failed_ratio(s));
}

void json_tls(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  if (!info.tls) {
    out->append("  \"tls\": null,\n");
    return;
  }
  const ReplayTlsStats &t = s.tls;
  const LogHistogram &h = t.handshake_ns;
  appendf(out,
          "  \"tls\": {\"handshakes\": %lu, \"resumed\": %lu, \"failed\": %lu, \"verified\": %s, "
          "\"name\": %s, \"first_failure\": %s,\n"
          "          \"handshake_ms\": {\"p50\": %.6f, \"p99\": %.6f, \"max\": %.6f}},\n",
          ul(t.handshakes), ul(t.resumed), ul(s.errors[kErrorTls]),
          info.tls_verified ? "true" : "false", json_string(info.tls_name).c_str(),
          t.first_failure.empty() ? "null" : json_string(t.first_failure).c_str(),
          ms(histogram_percentile(h, 50)), ms(histogram_percentile(h, 99)),
          ms(histogram_percentile(h, 100)));
}

void json_rewrites(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  out->append("  \"rewrites\": [");
  for (size_t r = 0; r < info.rewrites.size(); r++) {
    const ReplayHeaderRule &rule = info.rewrites[r];
    const ReplayRewriteTally &t = s.rewrites[r];
    appendf(out, "%s\n    {\"header\": %s, \"value\": %s, \"replaced\": %lu, \"added\": %lu, "
                 "\"removed\": %lu}",
            r ? "," : "", json_string(rule.name).c_str(),
            rule.remove ? "null" : json_string(rule.value).c_str(), ul(t.replaced), ul(t.added),
            ul(t.removed));
  }
  out->append(info.rewrites.empty() ? "],\n" : "\n  ],\n");
}

void json_thresholds(std::string *out, const ReplayReportInfo &info) {
  out->append("  \"thresholds\": [");
  for (size_t i = 0; i < info.thresholds.size(); i++) {
    const ReplayThresholdResult &r = info.thresholds[i];
    const ReplayThreshold &t = r.threshold;
    appendf(out, "%s\n    {\"threshold\": %s, \"kind\": \"%s\", ", i ? "," : "",
            json_string(t.text).c_str(), threshold_kind(t.kind));
    if (t.kind != ThresholdKind::kFailed) appendf(out, "\"percentile\": %g, ", t.percentile);
    appendf(out, "\"limit\": %g, \"measured\": %.6f, \"crossed\": %s}", t.limit, r.measured,
            r.crossed ? "true" : "false");
  }
  appendf(out, "%s  \"passed\": %s,\n", info.thresholds.empty() ? "],\n" : "\n  ],\n",
          replay_passed(info) ? "true" : "false");
}

}  // namespace

ReplayReportInfo replay_report_info(const ReplayOptions &o, const ReplayTarget &t,
                                    const ReplayStats &s) {
  ReplayReportInfo info;
  info.dir = o.dir;
  info.target = t.text;
  info.command = o.command_line;
  info.speed = o.speed;
  info.ok_status = o.ok_status;
  info.tls = t.tls.ctx != nullptr;
  info.tls_verified = info.tls && t.tls.verify;
  info.tls_name = t.tls.name;
  info.rewrites = o.headers;
  info.thresholds = check_replay_thresholds(o.thresholds, s);
  return info;
}

bool replay_passed(const ReplayReportInfo &info) {
  for (const ReplayThresholdResult &r : info.thresholds)
    if (r.crossed) return false;
  return true;
}

void print_replay_report(FILE *out, const ReplayReportInfo &info, const ReplayStats &s) {
  std::string text;
  appendf(&text, "vt_replay: report: %s against %s, speed %g, stopped by %s after %.3f s\n",
          info.dir.c_str(), info.target.c_str(), info.speed, s.stopped_by, s.elapsed_s);
  text += "  command      " + info.command + "\n";
  text_counts(&text, info, s);
  text_timing(&text, s);
  text_tls(&text, info, s);
  text_rewrites(&text, info, s);
  text_thresholds(&text, info);
  text_tables(&text, s);
  fputs(text.c_str(), out);
}

std::string replay_report_json(const ReplayReportInfo &info, const ReplayStats &s) {
  std::string out = "{\n";
  appendf(&out, "  \"package\": %s,\n  \"target\": %s,\n  \"command\": %s,\n",
          json_string(info.dir).c_str(), json_string(info.target).c_str(),
          json_string(info.command).c_str());
  appendf(&out, "  \"speed\": %g,\n  \"stopped_by\": \"%s\",\n  \"elapsed_s\": %.6f,\n", info.speed,
          s.stopped_by, s.elapsed_s);
  out += "  \"requests\": {";
  json_counts(&out, s.counts, true);
  out += "},\n";
  json_outcome(&out, info, s);
  out += "  \"pages\": {";
  bool first = true;
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
  json_tls(&out, info, s);
  json_rewrites(&out, info, s);
  json_thresholds(&out, info);
  appendf(&out, "  \"max_in_flight\": %lu,\n  \"bytes_per_in_flight\": %zu,\n  \"retries\": %lu,\n",
          ul(s.max_in_flight), replay_bytes_per_connection(), ul(s.retries));
  out += "  \"workers\": [";
  first = true;
  for (const ReplayWorkerStats &w : s.workers) {
    appendf(&out, "%s\n    {\"worker\": %d, \"users\": %lu, ", first ? "" : ",", w.number,
            ul(w.users));
    json_counts(&out, w.counts, true);
    out += "}";
    first = false;
  }
  out += first ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}
