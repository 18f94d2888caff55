#include "base/figures/replay_report.h"

#include <stdarg.h>
#include <string.h>

#include "base/core/utc_time.h"
#include "base/html/chart.h"
#include "base/package/json_string.h"
#include "base/package/manifest.h"

namespace {

double ms(uint64_t ns) {
  return static_cast<double>(ns) / 1e6;
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

bool any_names(const ReplayReportInfo &info) {
  return !info.page_names.empty();
}

// Bytes with their rate: "61,200 bytes (30.6 kB/s)".
std::string bytes_and_rate(uint64_t bytes, double elapsed_s) {
  std::string out = format_count(bytes) + " bytes";
  if (elapsed_s <= 0) return out;
  double rate = static_cast<double>(bytes) / elapsed_s;
  const char *unit = "B/s";
  for (const char *u : {"kB/s", "MB/s", "GB/s"}) {
    if (rate < 1000) break;
    rate /= 1000;
    unit = u;
  }
  return out + chart_fmt(" (%.1f %s)", rate, unit);
}

std::string rate_text(double rate) {
  return rate < 0 ? "-" : chart_fmt("%.1f/s", rate);
}

std::string rate_json(double rate) {
  return rate < 0 ? "null" : chart_fmt("%.3f", rate);
}

// ---- text, part by part

void text_start(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  if (s.start_unix_us > 0 || !info.shard.empty()) {
    out->append("  started      ");
    if (s.start_unix_us > 0)
      out->append(vtlb_utc_text(static_cast<uint64_t>(s.start_unix_us / 1000)));
    if (!info.shard.empty())
      appendf(out, "%sshard %s", s.start_unix_us > 0 ? "; " : "", info.shard.c_str());
    out->append("\n");
  }
  if (info.capture_start_ms >= 0 && s.package_start_ms >= 0)
    appendf(out,
            "  captured     %s to %s (time 0 and the last request planned, on the capture's "
            "clock)\n",
            replay_capture_clock(info, s.package_start_ms).c_str(),
            replay_capture_clock(info, s.package_last_ms).c_str());
  for (size_t i = 0; i < info.merged_from.size(); i++)
    appendf(out, "%s%s\n", i ? "               " : "  merged from  ", info.merged_from[i].c_str());
}

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
  for (const auto &[code, n] : failed_statuses(info, s))
    appendf(out, "status %d: %lu; ", code, ul(n));
  appendf(out, "errors %lu), ok statuses %s, success ratio ", ul(c.errors),
          info.ok_status.text.c_str());
  if (ended(c) == 0)
    appendf(out, "- (no request ended)\n");
  else
    appendf(out, "%.4f (%lu of %lu)\n", 1 - replay_failed_ratio(s), ul(ended(c) - replay_failed(c)),
            ul(ended(c)));
}

void text_timing(std::string *out, const ReplayStats &s) {
  const ReplayCounts &c = s.counts;
  double planned = replay_rate(c.planned, s.planned_span_s),
         achieved = replay_rate(c.sent, s.send_span_s);
  appendf(out, "  rate         planned %s, achieved %s%s\n", rate_text(planned).c_str(),
          rate_text(achieved).c_str(),
          planned < 0 || achieved < 0 ? " (a rate needs two requests at different times)" : "");
  appendf(out, "  throughput   %s answers/s; sent %s, received %s\n",
          s.elapsed_s > 0
              ? chart_fmt("%.1f", static_cast<double>(c.completed) / s.elapsed_s).c_str()
              : "-",
          bytes_and_rate(s.bytes_sent, s.elapsed_s).c_str(),
          bytes_and_rate(s.bytes_received, s.elapsed_s).c_str());
  const LogHistogram &l = s.latency_ns, &g = s.lag_ns;
  appendf(out,
          "  latency ms   min %.3f, mean %.3f, p50 %.3f, p90 %.3f, p95 %.3f, p99 %.3f, p99.9 %.3f, "
          "max %.3f\n",
          ms(l.min), histogram_mean(l) / 1e6, ms(histogram_percentile(l, 50)),
          ms(histogram_percentile(l, 90)), ms(histogram_percentile(l, 95)),
          ms(histogram_percentile(l, 99)), ms(histogram_percentile(l, 99.9)), ms(l.max));
  appendf(out, "  lag ms       mean %.3f, p50 %.3f, p95 %.3f, p99 %.3f, max %.3f\n",
          histogram_mean(g) / 1e6, ms(histogram_percentile(g, 50)), ms(histogram_percentile(g, 95)),
          ms(histogram_percentile(g, 99)), ms(g.max));
  appendf(out, "  percentiles within %.1f%% (log-bucketed histogram); min, mean and max exact\n",
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
          ms(histogram_percentile(h, 50)), ms(histogram_percentile(h, 99)), ms(h.max));
}

void text_rewrites(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  if (info.rewrites.empty() && info.path_rules.empty()) {
    appendf(out, "  rewrites     none: every request sent as the package holds it\n");
    return;
  }
  for (size_t r = 0; r < info.rewrites.size(); r++) {
    const ReplayHeaderRule &rule = info.rewrites[r];
    ReplayRewriteTally t = r < s.rewrites.size() ? s.rewrites[r] : ReplayRewriteTally{};
    out->append(r == 0 ? "  rewrites     " : "               ");
    if (rule.remove)
      appendf(out, "%s: removed from %lu requests\n", rule.name.c_str(), ul(t.removed));
    else
      appendf(out, "%s: %s: replaced in %lu requests, added to %lu\n", rule.name.c_str(),
              rule.value.c_str(), ul(t.replaced), ul(t.added));
  }
  for (size_t r = 0; r < info.path_rules.size(); r++) {
    const ReplayPathRule &rule = info.path_rules[r];
    out->append(r == 0 && info.rewrites.empty() ? "  rewrites     " : "               ");
    appendf(out, "path %s -> %s: rewritten in %lu requests\n", rule.from.c_str(), rule.to.c_str(),
            ul(r < s.path_rewrites.size() ? s.path_rewrites[r] : 0));
  }
}

void text_thresholds(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  bool given = replay_thresholds_given(info);
  for (const ReplayThresholdResult &r : info.thresholds) {
    const ReplayThreshold &t = r.threshold;
    if (!given) break;
    appendf(out, "  threshold    %s%s: ", t.text.c_str(),
            t.by_default ? " (the default without --max-failed)" : "");
    if (!r.sampled)
      appendf(out, "%s, CROSSED\n", replay_threshold_unmeasured(t.kind));
    else if (t.kind == ThresholdKind::kFailed)
      appendf(out, "measured %.4f, %s\n", r.measured, r.crossed ? "CROSSED" : "held");
    else
      appendf(out, "measured %.3f ms, %s\n", r.measured, r.crossed ? "CROSSED" : "held");
  }
  appendf(out, "  verdict      %s\n", replay_verdict(info, s).c_str());
}

void latency_columns(std::string *out, const LogHistogram &h) {
  appendf(out, " %8.3f %8.3f %8.3f %8.3f", ms(histogram_percentile(h, 50)),
          ms(histogram_percentile(h, 95)), ms(histogram_percentile(h, 99)), ms(h.max));
}

void text_tables(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  appendf(out, "  in flight    at most %lu (%lu bytes each), %lu sent again on a new connection\n",
          ul(s.max_in_flight), ul(s.bytes_per_in_flight), ul(s.retries));
  appendf(out, "  %-6s %10s %10s %10s %10s %8s %8s %8s %8s%s\n", "page", "sent", "completed",
          "errors", "failed", "p50 ms", "p95 ms", "p99 ms", "max ms",
          any_names(info) ? "  service" : "");
  for (const auto &[page, pg] : s.pages) {
    const ReplayCounts &pc = pg.counts;
    appendf(out, "  %-6ld %10lu %10lu %10lu %10lu", static_cast<long>(page), ul(pc.sent),
            ul(pc.completed), ul(pc.errors), ul(replay_failed(pc)));
    latency_columns(out, pg.latency_ns);
    if (any_names(info)) out->append("  " + replay_page_name(info, page));
    out->append("\n");
  }
  appendf(out, "  %-6s %8s %10s %10s %10s %10s %10s %8s %8s %8s %8s\n", "worker", "users",
          "planned", "sent", "completed", "errors", "failed", "p50 ms", "p95 ms", "p99 ms",
          "max ms");
  for (const ReplayWorkerStats &w : s.workers) {
    appendf(out, "  %-6d %8lu %10lu %10lu %10lu %10lu %10lu", w.number, ul(w.users),
            ul(w.counts.planned), ul(w.counts.sent), ul(w.counts.completed), ul(w.counts.errors),
            ul(replay_failed(w.counts)));
    latency_columns(out, w.latency_ns);
    out->append("\n");
  }
}

// ---- JSON, part by part

void json_counts(std::string *out, const ReplayCounts &c, bool with_planned) {
  if (with_planned) appendf(out, "\"planned\": %lu, ", ul(c.planned));
  appendf(out, "\"sent\": %lu, \"completed\": %lu, \"errors\": %lu, \"failed\": %lu", ul(c.sent),
          ul(c.completed), ul(c.errors), ul(replay_failed(c)));
}

void json_short_latency(std::string *out, const LogHistogram &h) {
  appendf(out, "\"latency_ms\": {\"p50\": %.6f, \"p95\": %.6f, \"p99\": %.6f, \"max\": %.6f}",
          ms(histogram_percentile(h, 50)), ms(histogram_percentile(h, 95)),
          ms(histogram_percentile(h, 99)), ms(h.max));
}

void json_histogram(std::string *out, const LogHistogram &h) {
  appendf(out, "{\"total\": %lu, \"min\": %lu, \"max\": %lu, \"sum\": %lu, \"buckets\": [",
          ul(h.total), ul(h.min), ul(h.max), ul(h.sum));
  bool first = true;
  histogram_each(h, [&](int b, uint64_t n) {
    appendf(out, "%s[%d, %lu]", first ? "" : ", ", b, ul(n));
    first = false;
  });
  out->append("]}");
}

void json_coarse(std::string *out, const CoarseHistogram &h) {
  out->append("[");
  bool first = true;
  for (size_t b = 0; b < h.counts.size(); b++) {
    if (!h.counts[b]) continue;
    appendf(out, "%s[%zu, %lu]", first ? "" : ", ", b, ul(h.counts[b]));
    first = false;
  }
  out->append("]");
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
          replay_json_string(info.ok_status.text).c_str());
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

void json_start(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  appendf(out, "  \"shard\": %s,\n",
          info.shard.empty() ? "null" : replay_json_string(info.shard).c_str());
  if (!info.merged_from.empty()) {
    out->append("  \"merged_from\": [");
    for (size_t i = 0; i < info.merged_from.size(); i++)
      appendf(out, "%s%s", i ? ", " : "", replay_json_string(info.merged_from[i]).c_str());
    out->append("],\n");
  }
  appendf(
      out, "  \"start\": %s,\n  \"start_unix_us\": %ld,\n",
      s.start_unix_us > 0
          ? replay_json_string(vtlb_utc_iso(static_cast<uint64_t>(s.start_unix_us / 1000), true))
                .c_str()
          : "null",
      static_cast<long>(s.start_unix_us));
  if (info.capture_start_ms >= 0) {
    appendf(out, "  \"capture_start_ms\": %ld,\n  \"capture_start\": %s,\n",
            static_cast<long>(info.capture_start_ms),
            replay_json_string(vtlb_utc_iso(static_cast<uint64_t>(info.capture_start_ms), true))
                .c_str());
  } else {
    out->append("  \"capture_start_ms\": null,\n  \"capture_start\": null,\n");
  }
  appendf(out, "  \"package_ms\": {\"start\": %ld, \"last\": %ld},\n",
          static_cast<long>(s.package_start_ms), static_cast<long>(s.package_last_ms));
  if (info.capture_start_ms >= 0 && s.package_start_ms >= 0)
    appendf(
        out, "  \"captured\": {\"start\": %s, \"last\": %s},\n",
        replay_json_string(
            vtlb_utc_iso(static_cast<uint64_t>(info.capture_start_ms + s.package_start_ms), true))
            .c_str(),
        replay_json_string(
            vtlb_utc_iso(static_cast<uint64_t>(info.capture_start_ms + s.package_last_ms), true))
            .c_str());
  else
    out->append("  \"captured\": null,\n");
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
          info.tls_verified ? "true" : "false", replay_json_string(info.tls_name).c_str(),
          t.first_failure.empty() ? "null" : replay_json_string(t.first_failure).c_str(),
          ms(histogram_percentile(h, 50)), ms(histogram_percentile(h, 99)), ms(h.max));
}

void json_rewrites(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  out->append("  \"rewrites\": [");
  for (size_t r = 0; r < info.rewrites.size(); r++) {
    const ReplayHeaderRule &rule = info.rewrites[r];
    ReplayRewriteTally t = r < s.rewrites.size() ? s.rewrites[r] : ReplayRewriteTally{};
    appendf(out,
            "%s\n    {\"header\": %s, \"value\": %s, \"replaced\": %lu, \"added\": %lu, "
            "\"removed\": %lu}",
            r ? "," : "", replay_json_string(rule.name).c_str(),
            rule.remove ? "null" : replay_json_string(rule.value).c_str(), ul(t.replaced),
            ul(t.added), ul(t.removed));
  }
  out->append(info.rewrites.empty() ? "],\n" : "\n  ],\n");
  if (info.path_rules.empty()) return;  // the key comes with --rewrite-path
  out->append("  \"path_rewrites\": [");
  for (size_t r = 0; r < info.path_rules.size(); r++)
    appendf(out, "%s\n    {\"from\": %s, \"to\": %s, \"rewritten\": %lu}", r ? "," : "",
            replay_json_string(info.path_rules[r].from).c_str(),
            replay_json_string(info.path_rules[r].to).c_str(),
            ul(r < s.path_rewrites.size() ? s.path_rewrites[r] : 0));
  out->append("\n  ],\n");
}

void json_thresholds(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  out->append("  \"thresholds\": [");
  for (size_t i = 0; i < info.thresholds.size(); i++) {
    const ReplayThresholdResult &r = info.thresholds[i];
    const ReplayThreshold &t = r.threshold;
    appendf(out, "%s\n    {\"threshold\": %s, \"kind\": \"%s\", ", i ? "," : "",
            replay_json_string(t.text).c_str(), threshold_kind(t.kind));
    if (t.kind != ThresholdKind::kFailed) appendf(out, "\"percentile\": %.15g, ", t.percentile);
    appendf(out, "\"limit\": %.15g, \"default\": %s, \"measured\": ", t.limit,
            t.by_default ? "true" : "false");
    if (r.sampled)
      appendf(out, "%.6f", r.measured);
    else
      out->append("null");
    appendf(out, ", \"crossed\": %s}", r.crossed ? "true" : "false");
  }
  appendf(out, "%s  \"passed\": %s,\n  \"verdict\": %s,\n",
          info.thresholds.empty() ? "],\n" : "\n  ],\n", replay_passed(info) ? "true" : "false",
          replay_json_string(replay_verdict(info, s)).c_str());
}

void json_pages(std::string *out, const ReplayReportInfo &info, const ReplayStats &s) {
  out->append("  \"pages\": {");
  bool first = true;
  for (const auto &[page, pg] : s.pages) {
    appendf(out, "%s\n    \"%ld\": {", first ? "" : ",", static_cast<long>(page));
    std::string name = replay_page_name(info, page);
    if (!name.empty()) appendf(out, "\"name\": %s, ", replay_json_string(name).c_str());
    json_counts(out, pg.counts, false);
    out->append(", ");
    json_short_latency(out, pg.latency_ns);
    out->append("}");
    first = false;
  }
  out->append(first ? "},\n" : "\n  },\n");
}

void json_workers(std::string *out, const ReplayStats &s) {
  out->append("  \"workers\": [");
  bool first = true;
  for (const ReplayWorkerStats &w : s.workers) {
    appendf(out, "%s\n    {\"worker\": %d, \"users\": %lu, ", first ? "" : ",", w.number,
            ul(w.users));
    json_counts(out, w.counts, true);
    out->append(", ");
    json_short_latency(out, w.latency_ns);
    out->append("}");
    first = false;
  }
  out->append(first ? "],\n" : "\n  ],\n");
}

void json_histograms(std::string *out, const ReplayStats &s) {
  out->append("  \"histograms\": {\n    \"latency_ns\": ");
  json_histogram(out, s.latency_ns);
  out->append(",\n    \"lag_ns\": ");
  json_histogram(out, s.lag_ns);
  out->append(",\n    \"handshake_ns\": ");
  json_histogram(out, s.tls.handshake_ns);
  out->append(",\n    \"pages\": {");
  bool first = true;
  for (const auto &[page, pg] : s.pages) {
    appendf(out, "%s\n      \"%ld\": ", first ? "" : ",", static_cast<long>(page));
    json_histogram(out, pg.latency_ns);
    first = false;
  }
  out->append(first ? "},\n    \"workers\": {" : "\n    },\n    \"workers\": {");
  first = true;
  for (const ReplayWorkerStats &w : s.workers) {
    appendf(out, "%s\n      \"%d\": ", first ? "" : ",", w.number);
    json_histogram(out, w.latency_ns);
    first = false;
  }
  out->append(first ? "}\n  },\n" : "\n    }\n  },\n");
}

void json_timeline(std::string *out, const ReplayStats &s) {
  appendf(out, "  \"timeline\": {\"column_ms\": %lu, \"columns\": [", ul(s.timeline.column_ms));
  bool first = true;
  for (size_t c = 0; c < s.timeline.columns.size(); c++) {
    const ReplayColumn &col = s.timeline.columns[c];
    if (!col.planned && !col.sent && !col.completed && !col.failed) continue;
    appendf(out,
            "%s\n    {\"column\": %zu, \"planned\": %lu, \"sent\": %lu, \"completed\": %lu, "
            "\"failed\": %lu, \"failures\": {",
            first ? "" : ",", c, ul(col.planned), ul(col.sent), ul(col.completed), ul(col.failed));
    bool first_failure = true;
    for (const auto &[key, n] : col.failures) {
      if (key > 0)
        appendf(out, "%s\"%d\": %lu", first_failure ? "" : ", ", key, ul(n));
      else
        appendf(out, "%s\"%s\": %lu", first_failure ? "" : ", ", kReplayErrorNames[-1 - key],
                ul(n));
      first_failure = false;
    }
    appendf(out, "}, \"lag_max_ns\": %lu, \"latency_ns\": ", ul(col.lag_max_ns));
    json_coarse(out, col.latency_ns);
    out->append(", \"lag_ns\": ");
    json_coarse(out, col.lag_ns);
    out->append("}");
    first = false;
  }
  out->append(first ? "]}\n" : "\n  ]}\n");
}

}  // namespace

std::string replay_json_string(const std::string &s) {
  return json_string(s);
}

double replay_rate(uint64_t count, double span_s) {
  return span_s > 0 && count > 1 ? static_cast<double>(count - 1) / span_s : -1;
}

void add_manifest_to_report(const Manifest &m, ReplayReportInfo *info) {
  info->capture_start_ms = static_cast<int64_t>(m.capture_start_ms);
  for (const ManifestService &service : m.services)
    info->page_names[service.page_id] = service.name;
}

bool replay_passed(const ReplayReportInfo &info) {
  for (const ReplayThresholdResult &r : info.thresholds)
    if (r.crossed) return false;
  return true;
}

bool replay_thresholds_given(const ReplayReportInfo &info) {
  for (const ReplayThresholdResult &r : info.thresholds)
    if (!r.threshold.by_default) return true;
  return false;
}

std::string replay_verdict(const ReplayReportInfo &info, const ReplayStats &s) {
  bool passed = replay_passed(info);
  if (!replay_thresholds_given(info)) {
    uint64_t n = ended(s.counts), failed = replay_failed(s.counts);
    std::string share = n == 0 ? std::string("no request ended")
                               : format_count(failed) + " of " + format_count(n) + " failed, " +
                                     chart_fmt("%.1f %%", 100.0 * static_cast<double>(failed) /
                                                              static_cast<double>(n));
    return passed ? "no thresholds set: " + share
                  : "FAILED: no thresholds set: " + share +
                        "; without --max-failed a failed request fails the run";
  }
  size_t total = info.thresholds.size(), crossed = 0;
  for (const ReplayThresholdResult &r : info.thresholds) crossed += r.crossed;
  if (crossed == 0) return chart_fmt("passed: %zu threshold%s held", total, total == 1 ? "" : "s");
  return chart_fmt("FAILED: %zu of %zu threshold%s crossed", crossed, total, total == 1 ? "" : "s");
}

std::string replay_page_name(const ReplayReportInfo &info, int64_t page) {
  auto at = info.page_names.find(page);
  return at == info.page_names.end() ? "" : at->second;
}

std::string replay_capture_clock(const ReplayReportInfo &info, int64_t package_ms) {
  if (info.capture_start_ms < 0 || package_ms < 0) return "";
  return vtlb_utc_text(static_cast<uint64_t>(info.capture_start_ms + package_ms));
}

std::string format_replay_report(const ReplayReportInfo &info, const ReplayStats &s) {
  std::string text;
  appendf(&text, "vt_replay: report: %s against %s, speed %g, stopped by %s after %.3f s\n",
          info.dir.c_str(), info.target.c_str(), info.speed, s.stopped_by.c_str(), s.elapsed_s);
  text += "  command      " + info.command + "\n";
  if (!info.mode.empty()) text += "  mode         " + info.mode + "\n";
  text_start(&text, info, s);
  text_counts(&text, info, s);
  text_timing(&text, s);
  text_tls(&text, info, s);
  text_rewrites(&text, info, s);
  text_thresholds(&text, info, s);
  text_tables(&text, info, s);
  return text;
}

void print_replay_report(FILE *out, const ReplayReportInfo &info, const ReplayStats &s) {
  fputs(format_replay_report(info, s).c_str(), out);
}

std::string replay_report_json(const ReplayReportInfo &info, const ReplayStats &s) {
  std::string out = "{\n";
  appendf(&out, "  \"report_format\": %d,\n  \"tool\": \"vt_replay\",\n", kReplayReportFormat);
  appendf(&out,
          "  \"package\": %s,\n  \"package_id\": %s,\n  \"target\": %s,\n  \"command\": %s,\n",
          replay_json_string(info.dir).c_str(),
          info.package_id.empty() ? "null" : replay_json_string(info.package_id).c_str(),
          replay_json_string(info.target).c_str(), replay_json_string(info.command).c_str());
  appendf(&out, "  \"speed\": %.15g,\n  \"mode\": %s,\n", info.speed,
          info.mode.empty() ? "null" : replay_json_string(info.mode).c_str());
  appendf(&out, "  \"stopped_by\": %s,\n  \"elapsed_s\": %.6f,\n",
          replay_json_string(s.stopped_by).c_str(), s.elapsed_s);
  appendf(&out, "  \"planned_span_s\": %.9f,\n  \"send_span_s\": %.9f,\n", s.planned_span_s,
          s.send_span_s);
  json_start(&out, info, s);
  out += "  \"requests\": {";
  json_counts(&out, s.counts, true);
  out += "},\n";
  json_outcome(&out, info, s);
  json_pages(&out, info, s);
  appendf(&out, "  \"rate\": {\"planned_per_s\": %s, \"achieved_per_s\": %s},\n",
          rate_json(replay_rate(s.counts.planned, s.planned_span_s)).c_str(),
          rate_json(replay_rate(s.counts.sent, s.send_span_s)).c_str());
  double elapsed = s.elapsed_s;
  appendf(&out,
          "  \"throughput\": {\"answers_per_s\": %s, \"sent_bytes_per_s\": %s, "
          "\"received_bytes_per_s\": %s},\n",
          rate_json(elapsed > 0 ? static_cast<double>(s.counts.completed) / elapsed : -1).c_str(),
          rate_json(elapsed > 0 ? static_cast<double>(s.bytes_sent) / elapsed : -1).c_str(),
          rate_json(elapsed > 0 ? static_cast<double>(s.bytes_received) / elapsed : -1).c_str());
  appendf(&out, "  \"bytes\": {\"sent\": %lu, \"received\": %lu},\n", ul(s.bytes_sent),
          ul(s.bytes_received));
  const LogHistogram &l = s.latency_ns, &g = s.lag_ns;
  appendf(&out,
          "  \"latency_ms\": {\"min\": %.6f, \"mean\": %.6f, \"p50\": %.6f, \"p90\": %.6f, "
          "\"p95\": %.6f, \"p99\": %.6f, \"p99_9\": %.6f, \"max\": %.6f},\n",
          ms(l.min), histogram_mean(l) / 1e6, ms(histogram_percentile(l, 50)),
          ms(histogram_percentile(l, 90)), ms(histogram_percentile(l, 95)),
          ms(histogram_percentile(l, 99)), ms(histogram_percentile(l, 99.9)), ms(l.max));
  appendf(&out,
          "  \"lag_ms\": {\"mean\": %.6f, \"p50\": %.6f, \"p95\": %.6f, \"p99\": %.6f, \"max\": "
          "%.6f},\n",
          histogram_mean(g) / 1e6, ms(histogram_percentile(g, 50)), ms(histogram_percentile(g, 95)),
          ms(histogram_percentile(g, 99)), ms(g.max));
  appendf(&out, "  \"percentile_relative_error\": %.6f,\n", kHistogramRelativeError);
  json_tls(&out, info, s);
  json_rewrites(&out, info, s);
  json_thresholds(&out, info, s);
  appendf(&out, "  \"max_in_flight\": %lu,\n  \"bytes_per_in_flight\": %lu,\n  \"retries\": %lu,\n",
          ul(s.max_in_flight), ul(s.bytes_per_in_flight), ul(s.retries));
  json_workers(&out, s);
  json_histograms(&out, s);
  json_timeline(&out, s);
  out += "}\n";
  return out;
}
