#include "tools/package/plot.h"

#include <math.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "base/html/chart.h"
#include "tools/package/profile_report.h"

namespace {

constexpr int kLeft = kChartLeft;
constexpr int kTop = kChartTop;
constexpr int kBottom = kChartBottom;
constexpr int kPlotWidth = kChartPlotWidth;
constexpr size_t kListedPages = 20;
constexpr size_t kPageNameChars = 40;  // of a service name in the page mix

std::string column_span_text(const Profile &p) {
  std::string text = "time since the first request (h:mm:ss)";
  if (p.has_clock_and_names) text += "; 0:00:00 is " + capture_clock(p, 0);
  if (p.column_ms != p.bucket_ms)
    text += "; one column = " + format_rate(p.column_ms / 1000.0) + " s";
  return text;
}

// Requests per second over the replay, one area per worker stacked in
// worker order; a column wider than a bucket shows its mean rate.
std::string rate_chart(const Profile &p) {
  const int height = 240;
  size_t columns = p.column_peak.size();
  double column_s = static_cast<double>(p.column_ms) / 1000.0;
  double top_rate = 1;
  for (size_t c = 0; c < columns; c++) {
    uint64_t sum = 0;
    for (const std::vector<uint64_t> &w : p.worker_columns) sum += w[c];
    top_rate = std::max(top_rate, static_cast<double>(sum) / column_s);
  }
  double ymax = nice_ceiling(top_rate);
  auto y_of = [&](double rate) { return kTop + height - height * rate / ymax; };
  auto x_of = [&](size_t c) {
    return kLeft +
           kPlotWidth * static_cast<double>(c) / static_cast<double>(std::max<size_t>(columns, 1));
  };
  std::string out =
      chart_svg_open(height + kTop + kBottom, "requests per second, stacked by worker");
  out += chart_y_axis(kTop, height, ymax, "requests per second");
  // Each worker's area reaches from the axis to the top of its stack; drawn
  // from the top of the stack down, each hides the part of the one before
  // that lies under it.
  std::vector<uint64_t> stack(columns, 0);
  std::vector<std::vector<uint64_t>> tops(p.worker_columns.size());
  for (size_t w = 0; w < p.worker_columns.size(); w++) {
    for (size_t c = 0; c < columns; c++) stack[c] += p.worker_columns[w][c];
    tops[w] = stack;
  }
  out += "<g class=\"stack\">";
  for (size_t k = tops.size(); k-- > 0;) {
    std::vector<double> ys(columns);
    for (size_t c = 0; c < columns; c++) ys[c] = y_of(static_cast<double>(tops[k][c]) / column_s);
    out += chart_fmt("<path class=\"series\" data-worker=\"%zu\" fill=\"%s\" d=\"", k,
                     chart_colour(static_cast<int>(k)).c_str());
    out += chart_step_path(ys, y_of(0), x_of, true);
    out += chart_fmt("\"><title>worker %zu</title></path>", k);
  }
  out += "</g>";
  uint64_t span = std::max<uint64_t>(columns * p.column_ms, 1);
  out += chart_time_axis(kTop, height, span, column_span_text(p));
  return out + "</svg>";
}

// The busiest bucket of each column, in requests per second: its highest
// point is the peak rate of the profile.
std::string peak_chart(const Profile &p) {
  const int height = 120;
  size_t columns = p.column_peak.size();
  double bucket_s = static_cast<double>(p.bucket_ms) / 1000.0;
  double ymax = nice_ceiling(std::max(p.rps_peak, 1.0));
  auto y_of = [&](double rate) { return kTop + height - height * rate / ymax; };
  auto x_of = [&](size_t c) {
    return kLeft +
           kPlotWidth * static_cast<double>(c) / static_cast<double>(std::max<size_t>(columns, 1));
  };
  std::string out = chart_svg_open(height + kTop + kBottom, "busiest bucket of each column");
  out += chart_y_axis(kTop, height, ymax, "requests per second");
  if (columns > 0) {
    std::vector<double> ys(columns);
    for (size_t c = 0; c < columns; c++) ys[c] = y_of(p.column_peak[c] / bucket_s);
    out += "<path class=\"peak\" d=\"" + chart_step_path(ys, y_of(0), x_of, true) + "\"/>";
  }
  uint64_t span = std::max<uint64_t>(columns * p.column_ms, 1);
  out += chart_time_axis(kTop, height, span, column_span_text(p));
  return out + "</svg>";
}

std::string active_chart(const Profile &p) {
  const int height = 160;
  size_t columns = p.column_active.size();
  double ymax = nice_ceiling(std::max<double>(static_cast<double>(p.max_active_users), 1.0));
  auto y_of = [&](double v) { return kTop + height - height * v / ymax; };
  // Drawn only when there are columns.
  auto x_of = [&](size_t c) {
    return kLeft + kPlotWidth * static_cast<double>(c) / static_cast<double>(columns);
  };
  std::string out = chart_svg_open(height + kTop + kBottom, "users active at once");
  out += chart_y_axis(kTop, height, ymax, "users active");
  if (columns > 0) {
    std::vector<double> ys(columns);
    for (size_t c = 0; c < columns; c++) ys[c] = y_of(static_cast<double>(p.column_active[c]));
    out += "<path class=\"active\" d=\"" + chart_step_path(ys, y_of(0), x_of, true) + "\"/>";
  }
  uint64_t span = std::max<uint64_t>(columns * p.column_ms, 1);
  out += chart_time_axis(kTop, height, span, column_span_text(p));
  return out + "</svg>";
}

// Bars per worker of one figure, with the mean as a dashed line.
std::string worker_bars(const Profile &p, bool bytes) {
  const int height = 150;
  const int top = kTop + 8;
  size_t n = p.per_worker.size();
  std::vector<double> values;
  for (const WorkerFigures &w : p.per_worker)
    values.push_back(static_cast<double>(bytes ? w.bytes : w.requests));
  double largest = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
  double ymax = nice_ceiling(std::max(largest, 1.0));
  auto y_of = [&](double v) { return top + height - height * v / ymax; };
  const char *what = bytes ? "bytes" : "requests";
  std::string out = chart_svg_open(height + top + kBottom, std::string(what) + " per worker");
  out += chart_y_axis(top, height, ymax, std::string(what) + " per worker");
  double slot = static_cast<double>(kPlotWidth) / static_cast<double>(std::max<size_t>(n, 1));
  size_t label_every = std::max<size_t>(1, (n + 23) / 24);
  for (size_t w = 0; w < n; w++) {
    double x = kLeft + slot * static_cast<double>(w);
    double y = y_of(values[w]);
    const WorkerFigures &wf = p.per_worker[w];
    out += chart_fmt(
        "<rect class=\"bar\" fill=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
        "height=\"%.1f\"><title>worker %d: %s %s (%s against the mean)</title></rect>",
        chart_colour(static_cast<int>(w)).c_str(), x + slot * 0.1, y, slot * 0.8, top + height - y,
        wf.worker, format_count(bytes ? wf.bytes : wf.requests).c_str(), what,
        format_imbalance(wf.requests, p.requests, p.workers).c_str());
    if (w % label_every == 0)
      out += chart_fmt("<text class=\"xl\" x=\"%.1f\" y=\"%d\">%d</text>", x + slot / 2,
                       top + height + 16, wf.worker);
  }
  double mean = n ? std::accumulate(values.begin(), values.end(), 0.0) / n : 0;
  out += chart_fmt(
      "<line class=\"mean\" x1=\"%d\" x2=\"%d\" y1=\"%.1f\" y2=\"%.1f\"><title>mean %s"
      "</title></line>",
      kLeft, kLeft + kPlotWidth, y_of(mean), y_of(mean), short_number(mean).c_str());
  out += chart_fmt("<text class=\"axis\" x=\"%d\" y=\"%d\">worker (dashed line: the mean)</text>",
                   kLeft + kPlotWidth / 2, top + height + 36);
  return out + "</svg>";
}

// The pages with the most requests as horizontal bars, the rest as one.
std::string page_mix(const Profile &p) {
  std::vector<PageFigures> pages = p.per_page;
  std::stable_sort(pages.begin(), pages.end(), [](const PageFigures &a, const PageFigures &b) {
    return a.requests > b.requests;
  });
  struct Row {
    std::string label;
    uint64_t requests, bytes;
  };
  std::vector<Row> rows;
  Row rest{"", 0, 0};
  size_t others = 0;
  for (size_t i = 0; i < pages.size(); i++) {
    if (i < kListedPages) {
      std::string label = "page " + std::to_string(pages[i].page);
      std::string name = page_name(p, pages[i].page);
      // A long name keeps its end, where services differ most.
      if (name.size() > kPageNameChars)
        name = "..." + name.substr(name.size() - kPageNameChars + 3);
      if (!name.empty()) label += " " + name;
      rows.push_back({label, pages[i].requests, pages[i].bytes});
    } else {
      others++;
      rest.requests += pages[i].requests;
      rest.bytes += pages[i].bytes;
    }
  }
  if (others) rows.push_back({std::to_string(others) + " more pages", rest.requests, rest.bytes});
  const int row_h = 20;
  int height = static_cast<int>(rows.size()) * row_h + 24;
  std::string out = chart_svg_open(height, "page mix");
  uint64_t most = rows.empty() ? 1 : std::max<uint64_t>(rows[0].requests, 1);
  for (const Row &r : rows) most = std::max(most, r.requests);
  // Service names need a wider label column.
  const int bar_left = p.has_clock_and_names ? 330 : 130,
            bar_width = p.has_clock_and_names ? 380 : 520;
  out += chart_fmt(
      "<text class=\"head pl\" x=\"%d\" y=\"14\">page</text><text class=\"head\" x=\"%d\" "
      "y=\"14\">requests</text><text class=\"head\" x=\"%d\" y=\"14\">share, bytes</text>",
      bar_left - 8, bar_left, bar_left + bar_width + 10);
  for (size_t i = 0; i < rows.size(); i++) {
    const Row &r = rows[i];
    int y = 24 + static_cast<int>(i) * row_h;
    double share = p.requests ? 100.0 * static_cast<double>(r.requests) / p.requests : 0;
    double w = bar_width * static_cast<double>(r.requests) / static_cast<double>(most);
    out += chart_fmt("<text class=\"pl\" x=\"%d\" y=\"%d\">%s</text>", bar_left - 8, y + 14,
                     html_escape(r.label).c_str());
    out += chart_fmt("<rect class=\"pagebar\" x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\"/>",
                     bar_left, y + 3, w, row_h - 6);
    out += chart_fmt("<text class=\"pv\" x=\"%d\" y=\"%d\">%s (%.1f%%), %s bytes</text>",
                     bar_left + bar_width + 10, y + 14, format_count(r.requests).c_str(), share,
                     format_count(r.bytes).c_str());
  }
  return out + "</svg>";
}

std::string figures_table(const Profile &p) {
  uint64_t rejected = 0;
  std::string codes;
  for (const auto &[code, count] : p.rejected_by_code) {
    rejected += count;
    codes += (codes.empty() ? "" : ", ") + std::to_string(code) + ": " + format_count(count);
  }
  struct Item {
    const char *label;
    std::string value;
  } items[] = {
      {"workers", std::to_string(p.workers)},
      {"users", format_count(p.users)},
      {"requests", format_count(p.requests)},
      {"bytes", format_count(p.bytes)},
      {"duration", format_duration(p.duration_ms)},
      {"captured", p.has_clock_and_names
                       ? capture_clock(p, p.first_ms) + " to " + capture_clock(p, p.last_ms)
                       : "(no manifest in the package)"},
      {"requests per second", "mean " + format_rate(p.rps_mean) + ", peak " +
                                  format_rate(p.rps_peak) + " (buckets of " +
                                  format_rate(p.bucket_ms / 1000.0) + " s)"},
      {"requests per minute",
       "mean " + format_rate(p.rpm_mean) + ", peak " + format_count(p.rpm_peak)},
      {"users active at once", format_count(p.max_active_users) + " at most"},
      {"body bytes", format_count(p.body_bytes) + "; median " + format_count(p.body_median) +
                         ", 95th percentile " + format_count(p.body_p95) + ", largest " +
                         format_count(p.body_max)},
      {"rejected records", format_count(rejected) + (codes.empty() ? "" : " (" + codes + ")")},
  };
  std::string out = "<table class=\"figures\">";
  for (const Item &item : items)
    out +=
        "<tr><th>" + std::string(item.label) + "</th><td>" + html_escape(item.value) + "</td></tr>";
  return out + "</table>";
}

std::string legend(const Profile &p) {
  if (p.workers > 24)
    return chart_fmt(
        "<p class=\"note\">%d workers, stacked from worker 0 at the bottom; colours "
        "repeat around the colour wheel.</p>",
        p.workers);
  std::string out = "<p class=\"legend\">";
  for (int w = 0; w < p.workers; w++)
    out += chart_fmt("<span><i style=\"background:%s\"></i>worker %d</span>",
                     chart_colour(w).c_str(), w);
  return out + "</p>";
}

}  // namespace

std::string render_plot_html(const Profile &p, const std::string &title) {
  std::string out = chart_page_start("Replay package", title);
  out += figures_table(p) + "\n";
  std::string bucket = format_rate(p.bucket_ms / 1000.0) + " s";
  if (p.column_ms == p.bucket_ms) {
    out += "<h2>Requests per second, stacked by worker (buckets of " + bucket + ")</h2>" +
           legend(p) + rate_chart(p) + "\n";
  } else {
    out += "<h2>Requests per second, stacked by worker (mean of each " +
           format_rate(p.column_ms / 1000.0) + " s column)</h2>" + legend(p) + rate_chart(p) + "\n";
    out += "<h2>Busiest " + bucket +
           " bucket of each column (requests per second; the highest is "
           "the peak, " +
           format_rate(p.rps_peak) + ")</h2>" + peak_chart(p) + "\n";
  }
  out += "<h2>Users active at once</h2>" + active_chart(p) + "\n";
  out += "<h2>Requests per worker</h2>" + worker_bars(p, false) + "\n";
  out += "<h2>Bytes per worker</h2>" + worker_bars(p, true) + "\n";
  out += "<h2>Page mix</h2>" + page_mix(p) + "\n";
  out += "</body></html>\n";
  return out;
}
