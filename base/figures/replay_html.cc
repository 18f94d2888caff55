#include "base/figures/replay_html.h"

#include <math.h>

#include <algorithm>
#include <functional>
#include <set>

#include "base/core/utc_time.h"
#include "base/html/chart.h"

const char *const kReplayCharts[4] = {"requests per second, planned and achieved",
                                      "latency p50 and p99", "failures per second by status",
                                      "schedule lag"};

namespace {

constexpr int kHeight = 200;

struct Frame {
  size_t columns = 0;
  double column_s = 1;
  uint64_t span_ms = 1;
  std::string axis_title;
};

Frame frame_of(const ReplayReportInfo &info, const ReplayStats &s) {
  Frame f;
  f.columns = std::max<size_t>(s.timeline.columns.size(), 1);
  f.column_s = static_cast<double>(s.timeline.column_ms) / 1000.0;
  f.span_ms = f.columns * s.timeline.column_ms;
  f.axis_title = "time since the start (h:mm:ss); one column = " + format_rate(f.column_s) + " s";
  if (info.capture_start_ms >= 0 && s.package_start_ms >= 0) {
    std::string clock = replay_capture_clock(info, s.package_start_ms);
    f.axis_title += "; 0:00:00 replays " + clock + " of the capture";
    if (info.speed != 1) f.axis_title += chart_fmt(" at speed %g", info.speed);
  }
  return f;
}

double x_of(const Frame &f, size_t c) {
  return kChartLeft + kChartPlotWidth * static_cast<double>(c) / static_cast<double>(f.columns);
}

// A line over the columns that have a value, broken where they have none.
std::string step_line(const Frame &f, const std::vector<double> &values,
                      const std::vector<bool> &has, const std::function<double(double)> &y_of) {
  std::string d;
  bool open = false;
  for (size_t c = 0; c < values.size(); c++) {
    if (!has[c]) {
      open = false;
      continue;
    }
    double y = y_of(values[c]);
    d += open ? chart_fmt("V%.1f", y) : chart_fmt("M%.1f %.1f", x_of(f, c), y);
    d += chart_fmt("H%.1f", x_of(f, c + 1));
    open = true;
  }
  return d;
}

std::string line_path(const std::string &d, const char *colour, const char *label, bool dashed) {
  if (d.empty()) return "";
  return chart_fmt("<path class=\"line%s\" stroke=\"%s\" d=\"%s\"><title>%s</title></path>",
                   dashed ? " dashed" : "", colour, d.c_str(), label);
}

std::string legend(const std::vector<std::pair<std::string, std::string>> &items) {
  std::string out = "<p class=\"legend\">";
  for (const auto &[colour, label] : items)
    out += "<span><i style=\"background:" + colour + "\"></i>" + html_escape(label) + "</span>";
  return out + "</p>";
}

std::string empty_note(const char *text) {
  return chart_fmt("<text class=\"empty\" x=\"%d\" y=\"%d\">%s</text>",
                   kChartLeft + kChartPlotWidth / 2, kChartTop + kHeight / 2, text);
}

std::string chart_end(const Frame &f) {
  return chart_time_axis(kChartTop, kHeight, f.span_ms, f.axis_title) + "</svg>";
}

// Planned against achieved (sent) requests per second.
std::string rate_chart(const Frame &f, const ReplayStats &s) {
  const std::vector<ReplayColumn> &cols = s.timeline.columns;
  std::vector<double> planned(cols.size()), sent(cols.size());
  double top = 1;
  for (size_t c = 0; c < cols.size(); c++) {
    planned[c] = static_cast<double>(cols[c].planned) / f.column_s;
    sent[c] = static_cast<double>(cols[c].sent) / f.column_s;
    top = std::max({top, planned[c], sent[c]});
  }
  double ymax = nice_ceiling(top);
  auto y_of = [&](double v) { return kChartTop + kHeight - kHeight * v / ymax; };
  std::string out = chart_svg_open(kHeight + kChartTop + kChartBottom, kReplayCharts[0]);
  out += chart_y_axis(kChartTop, kHeight, ymax, "requests per second");
  std::vector<double> ys(sent.size());
  for (size_t c = 0; c < sent.size(); c++) ys[c] = y_of(sent[c]);
  if (!ys.empty())
    out += "<path class=\"series\" data-series=\"achieved\" fill=\"#9ecae1\" d=\"" +
           chart_step_path(
               ys, y_of(0), [&](size_t c) { return x_of(f, c); }, true) +
           "\"><title>achieved (sent)</title></path>";
  std::vector<bool> all(cols.size(), true);
  out += line_path(step_line(f, planned, all, y_of), "#e6550d", "planned", true);
  if (cols.empty()) out += empty_note("no request was planned");
  return out + chart_end(f);
}

// Lines of percentiles per column of a coarse histogram, in ms.
std::string percentile_chart(const Frame &f, const char *label, const char *y_title,
                             const std::vector<const CoarseHistogram *> &hists,
                             const std::vector<double> &maxima,
                             const std::vector<std::pair<double, const char *>> &lines,
                             const char *empty) {
  size_t n = hists.size();
  std::vector<std::vector<double>> values(lines.size() + 1, std::vector<double>(n, 0));
  std::vector<bool> has(n, false);
  double top = 0;
  for (size_t c = 0; c < n; c++) {
    if (hists[c]->total == 0) continue;
    has[c] = true;
    for (size_t l = 0; l < lines.size(); l++) {
      values[l][c] = static_cast<double>(coarse_percentile(*hists[c], lines[l].first)) / 1e6;
      top = std::max(top, values[l][c]);
    }
    if (!maxima.empty()) {
      // A percentile read at its bucket's middle may lie above the largest value.
      for (size_t l = 0; l < lines.size(); l++) values[l][c] = std::min(values[l][c], maxima[c]);
      values[lines.size()][c] = maxima[c];
      top = std::max(top, maxima[c]);
    }
  }
  double ymax = nice_ceiling(top > 0 ? top : 1);
  auto y_of = [&](double v) { return kChartTop + kHeight - kHeight * v / ymax; };
  std::string out = chart_svg_open(kHeight + kChartTop + kChartBottom, label);
  out += chart_y_axis(kChartTop, kHeight, ymax, y_title);
  static const char *const colours[] = {"#3182bd", "#e6550d", "#756bb1"};
  for (size_t l = 0; l < lines.size(); l++)
    out += line_path(step_line(f, values[l], has, y_of), colours[l], lines[l].second, false);
  if (!maxima.empty())
    out += line_path(step_line(f, values[lines.size()], has, y_of), colours[2], "max", true);
  if (std::find(has.begin(), has.end(), true) == has.end()) out += empty_note(empty);
  return out + chart_end(f);
}

std::string failure_label(int key) {
  return key > 0 ? "status " + std::to_string(key) : kReplayErrorNames[-1 - key];
}

// Failed requests per second, stacked by status or error kind.
std::string failure_chart(const Frame &f, const ReplayStats &s, std::string *legend_html) {
  const std::vector<ReplayColumn> &cols = s.timeline.columns;
  std::set<int> keys;
  for (const ReplayColumn &c : cols)
    for (const auto &[key, n] : c.failures) keys.insert(key);
  double top = 1;
  for (const ReplayColumn &c : cols)
    top = std::max(top, static_cast<double>(c.failed) / f.column_s);
  double ymax = nice_ceiling(top);
  auto y_of = [&](double v) { return kChartTop + kHeight - kHeight * v / ymax; };
  std::string out = chart_svg_open(kHeight + kChartTop + kChartBottom, kReplayCharts[2]);
  out += chart_y_axis(kChartTop, kHeight, ymax, "failed per second");
  std::vector<int> order(keys.begin(), keys.end());
  std::vector<std::vector<double>> tops(order.size(), std::vector<double>(cols.size(), 0));
  std::vector<double> stack(cols.size(), 0);
  for (size_t k = 0; k < order.size(); k++) {
    for (size_t c = 0; c < cols.size(); c++) {
      auto at = cols[c].failures.find(order[k]);
      if (at != cols[c].failures.end()) stack[c] += static_cast<double>(at->second) / f.column_s;
      tops[k][c] = stack[c];
    }
  }
  std::vector<std::pair<std::string, std::string>> items;
  for (size_t k = order.size(); k-- > 0;) {
    std::vector<double> ys(cols.size());
    for (size_t c = 0; c < cols.size(); c++) ys[c] = y_of(tops[k][c]);
    std::string colour = chart_colour(static_cast<int>(k) + 3);
    out += "<path class=\"series\" data-failure=\"" + html_escape(failure_label(order[k])) +
           "\" fill=\"" + colour + "\" d=\"" +
           chart_step_path(
               ys, y_of(0), [&](size_t c) { return x_of(f, c); }, true) +
           "\"><title>" + html_escape(failure_label(order[k])) + "</title></path>";
  }
  for (size_t k = 0; k < order.size(); k++)
    items.push_back({chart_colour(static_cast<int>(k) + 3), failure_label(order[k])});
  *legend_html = items.empty() ? "" : legend(items);
  if (order.empty()) out += empty_note("no request failed");
  return out + chart_end(f);
}

std::string ms_text(uint64_t ns) {
  return chart_fmt("%.3f", static_cast<double>(ns) / 1e6);
}

std::string figures_table(const ReplayReportInfo &info, const ReplayStats &s) {
  const ReplayCounts &c = s.counts;
  uint64_t ended = c.completed + c.errors;
  const LogHistogram &l = s.latency_ns, &g = s.lag_ns;
  double planned = replay_rate(c.planned, s.planned_span_s),
         achieved = replay_rate(c.sent, s.send_span_s);
  auto rate = [](double r) {
    return r < 0 ? std::string("-") : format_rate(round(r * 10) / 10) + "/s";
  };
  std::string statuses;
  for (const auto &[code, n] : s.status)
    statuses += (statuses.empty() ? "" : ", ") + std::to_string(code) + ": " + format_count(n);
  std::vector<std::pair<std::string, std::string>> items = {
      {"target", info.target},
      {"started", s.start_unix_us > 0
                      ? vtlb_utc_text(static_cast<uint64_t>(s.start_unix_us / 1000)) +
                            (info.shard.empty() ? "" : "; shard " + info.shard)
                      : "-"},
      {"stopped by", s.stopped_by + chart_fmt(" after %.3f s", s.elapsed_s)},
  };
  if (!info.mode.empty()) items.push_back({"mode", info.mode});
  if (info.capture_start_ms >= 0 && s.package_start_ms >= 0)
    items.push_back({"captured", replay_capture_clock(info, s.package_start_ms) + " to " +
                                     replay_capture_clock(info, s.package_last_ms)});
  if (!info.merged_from.empty()) {
    std::string from;
    for (const std::string &m : info.merged_from) from += (from.empty() ? "" : ", ") + m;
    items.push_back({"merged from", from});
  }
  items.insert(
      items.end(),
      {{"requests", "planned " + format_count(c.planned) + ", sent " + format_count(c.sent) +
                        ", completed " + format_count(c.completed) + ", errors " +
                        format_count(c.errors)},
       {"status", statuses.empty() ? "none" : statuses},
       {"failed", format_count(replay_failed(c)) + " (ok statuses " + info.ok_status.text +
                      "), success ratio " +
                      (ended ? chart_fmt("%.4f", 1 - replay_failed_ratio(s)) : std::string("-"))},
       {"rate", "planned " + rate(planned) + ", achieved " + rate(achieved)},
       {"throughput",
        (s.elapsed_s > 0 ? chart_fmt("%.1f", static_cast<double>(c.completed) / s.elapsed_s)
                         : std::string("-")) +
            " answers/s; sent " + format_count(s.bytes_sent) + " bytes, received " +
            format_count(s.bytes_received) + " bytes"},
       {"latency ms", "min " + ms_text(l.min) + ", mean " +
                          chart_fmt("%.3f", histogram_mean(l) / 1e6) + ", p50 " +
                          ms_text(histogram_percentile(l, 50)) + ", p95 " +
                          ms_text(histogram_percentile(l, 95)) + ", p99 " +
                          ms_text(histogram_percentile(l, 99)) + ", max " + ms_text(l.max)},
       {"lag ms", "mean " + chart_fmt("%.3f", histogram_mean(g) / 1e6) + ", p50 " +
                      ms_text(histogram_percentile(g, 50)) + ", p99 " +
                      ms_text(histogram_percentile(g, 99)) + ", max " + ms_text(g.max)}});
  items.push_back({"verdict", replay_verdict(info, s)});
  std::string out = "<table class=\"figures\">";
  for (const auto &[label, value] : items)
    out += "<tr><th>" + html_escape(label) + "</th><td>" + html_escape(value) + "</td></tr>";
  return out + "</table>";
}

std::string latency_cells(const LogHistogram &h) {
  std::string out;
  for (double p : {50.0, 95.0, 99.0, 100.0})
    out += "<td>" + ms_text(histogram_percentile(h, p)) + "</td>";
  return out;
}

std::string page_table(const ReplayReportInfo &info, const ReplayStats &s) {
  std::string out =
      "<table class=\"rows pages\"><tr><th>page</th><th>service</th><th>sent</th>"
      "<th>completed</th><th>errors</th><th>failed</th><th>p50 ms</th><th>p95 ms</th>"
      "<th>p99 ms</th><th>max ms</th></tr>";
  for (const auto &[page, pg] : s.pages) {
    const ReplayCounts &c = pg.counts;
    out += chart_fmt("<tr><td>%ld</td><td class=\"name\">", static_cast<long>(page)) +
           html_escape(replay_page_name(info, page)) + "</td><td>" + format_count(c.sent) +
           "</td><td>" + format_count(c.completed) + "</td><td>" + format_count(c.errors) +
           "</td><td>" + format_count(replay_failed(c)) + "</td>" + latency_cells(pg.latency_ns) +
           "</tr>";
  }
  return out + "</table>";
}

std::string worker_table(const ReplayStats &s) {
  std::string out =
      "<table class=\"rows workers\"><tr><th>worker</th><th>users</th><th>planned</th>"
      "<th>sent</th><th>completed</th><th>errors</th><th>failed</th><th>p50 ms</th>"
      "<th>p95 ms</th><th>p99 ms</th><th>max ms</th></tr>";
  for (const ReplayWorkerStats &w : s.workers) {
    const ReplayCounts &c = w.counts;
    out += chart_fmt("<tr><td>%d</td>", w.number) + "<td>" + format_count(w.users) + "</td><td>" +
           format_count(c.planned) + "</td><td>" + format_count(c.sent) + "</td><td>" +
           format_count(c.completed) + "</td><td>" + format_count(c.errors) + "</td><td>" +
           format_count(replay_failed(c)) + "</td>" + latency_cells(w.latency_ns) + "</tr>";
  }
  return out + "</table>";
}

}  // namespace

std::string render_replay_html(const ReplayReportInfo &info, const ReplayStats &s,
                               const std::string &title) {
  Frame f = frame_of(info, s);
  std::vector<const CoarseHistogram *> latency, lag;
  std::vector<double> lag_max;
  for (const ReplayColumn &c : s.timeline.columns) {
    latency.push_back(&c.latency_ns);
    lag.push_back(&c.lag_ns);
    lag_max.push_back(static_cast<double>(c.lag_max_ns) / 1e6);
  }
  std::string out = chart_page_start("Replay run", title);
  if (!info.command.empty())
    out += "<p class=\"sub\"><code>" + html_escape(info.command) + "</code></p>\n";
  out += figures_table(info, s) + "\n";
  out += "<h2>Requests per second: planned and achieved</h2>" +
         legend({{"#e6550d", "planned (dashed)"}, {"#9ecae1", "achieved (sent)"}}) +
         rate_chart(f, s) + "\n";
  out += "<h2>Latency (ms), by the time of sending</h2>" +
         legend({{"#3182bd", "p50"}, {"#e6550d", "p99"}}) +
         percentile_chart(f, kReplayCharts[1], "latency ms", latency, {},
                          {{50, "p50"}, {99, "p99"}}, "no answer came") +
         "\n";
  std::string failure_legend;
  std::string failures = failure_chart(f, s, &failure_legend);
  out += "<h2>Failures per second, by status or error</h2>" + failure_legend + failures + "\n";
  out += "<h2>Schedule lag (ms): how late each request went out</h2>" +
         legend({{"#3182bd", "p50"}, {"#e6550d", "p99"}, {"#756bb1", "max (dashed)"}}) +
         percentile_chart(f, kReplayCharts[3], "lag ms", lag, lag_max, {{50, "p50"}, {99, "p99"}},
                          "no request was sent") +
         "\n";
  out += "<p class=\"note\">Percentiles over time within " +
         format_rate(kCoarseRelativeError * 100) +
         "% (16 buckets per power of two); those of the tables within " +
         format_rate(round(kHistogramRelativeError * 1000) / 10) + "%.</p>\n";
  out += "<h2>Pages</h2>" + page_table(info, s) + "\n";
  out += "<h2>Workers</h2>" + worker_table(s) + "\n";
  out += "</body></html>\n";
  return out;
}
