#include "tools/package/plot.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "tools/package/profile_report.h"

namespace {

constexpr int kWidth = 960;
constexpr int kLeft = 72;
constexpr int kRight = 16;
constexpr int kTop = 14;
constexpr int kBottom = 46;
constexpr int kPlotWidth = kWidth - kLeft - kRight;
constexpr size_t kListedPages = 20;
constexpr size_t kPageNameChars = 40;  // of a service name in the page mix

std::string fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  vsnprintf(out.data(), out.size() + 1, format, again);
  va_end(again);
  return out;
}

// A step outline over columns: from the axis at x_of(0), one level per
// column (ys), back down to the axis; a level equal to the one before adds
// no vertical move. Long, so composed without fmt's fixed buffer.
template <typename XOf>
std::string step_path(const std::vector<double> &ys, double base_y, XOf x_of, bool close) {
  std::string d = fmt("M%.1f %.1f", x_of(0), base_y);
  double last_y = base_y;
  for (size_t c = 0; c < ys.size(); c++) {
    if (c == 0 || ys[c] != last_y) d += fmt("V%.1f", ys[c]);
    d += fmt("H%.1f", x_of(c + 1));
    last_y = ys[c];
  }
  if (close) d += fmt("V%.1fZ", base_y);
  return d;
}

std::string html_escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string worker_colour(int w) {
  return fmt("hsl(%d,60%%,%d%%)", static_cast<int>(fmod(w * 137.508, 360.0)), 42 + (w % 3) * 9);
}

// A compact value label: 1234 -> "1.2k", 5600000 -> "5.6M".
std::string short_number(double v) {
  const char *units[] = {"", "k", "M", "G", "T"};
  int u = 0;
  while (fabs(v) >= 1000 && u < 4) {
    v /= 1000;
    u++;
  }
  return format_rate(round(v * 100) / 100) + units[u];
}

// Horizontal grid lines with value labels on the left, and the axis title.
std::string y_axis(int top, int height, double ymax, const std::string &title) {
  std::string out;
  for (int i = 0; i <= 4; i++) {
    double v = ymax * i / 4;
    double y = top + height - height * i / 4.0;
    out += fmt("<line class=\"grid\" x1=\"%d\" x2=\"%d\" y1=\"%.1f\" y2=\"%.1f\"/>", kLeft,
               kLeft + kPlotWidth, y, y);
    out += fmt("<text class=\"yl\" x=\"%d\" y=\"%.1f\">%s</text>", kLeft - 6, y + 4,
               short_number(v).c_str());
  }
  out += fmt("<text class=\"axis\" transform=\"translate(14,%d) rotate(-90)\">%s</text>",
             top + height / 2, html_escape(title).c_str());
  return out;
}

// Time ticks under a chart whose plot area spans span_ms.
std::string time_axis(int top, int height, uint64_t span_ms, const std::string &title) {
  std::string out;
  uint64_t step = time_tick_step(span_ms, 8);
  for (uint64_t t = 0; t <= span_ms; t += step) {
    double x = kLeft + kPlotWidth * static_cast<double>(t) / static_cast<double>(span_ms);
    out += fmt("<line class=\"tick\" x1=\"%.1f\" x2=\"%.1f\" y1=\"%d\" y2=\"%d\"/>", x, x,
               top + height, top + height + 5);
    out += fmt("<text class=\"xl\" x=\"%.1f\" y=\"%d\">%s</text>", x, top + height + 18,
               format_tick_time(t, step).c_str());
  }
  out += fmt("<text class=\"axis\" x=\"%d\" y=\"%d\">%s</text>", kLeft + kPlotWidth / 2,
             top + height + 38, html_escape(title).c_str());
  return out;
}

std::string svg_open(int height, const std::string &label) {
  return fmt(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %d %d\" width=\"%d\" "
      "height=\"%d\" role=\"img\" aria-label=\"%s\">",
      kWidth, height, kWidth, height, html_escape(label).c_str());
}

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
  std::string out = svg_open(height + kTop + kBottom, "requests per second, stacked by worker");
  out += y_axis(kTop, height, ymax, "requests per second");
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
    out += fmt("<path class=\"series\" data-worker=\"%zu\" fill=\"%s\" d=\"", k,
               worker_colour(static_cast<int>(k)).c_str());
    out += step_path(ys, y_of(0), x_of, true);
    out += fmt("\"><title>worker %zu</title></path>", k);
  }
  out += "</g>";
  uint64_t span = std::max<uint64_t>(columns * p.column_ms, 1);
  out += time_axis(kTop, height, span, column_span_text(p));
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
  std::string out = svg_open(height + kTop + kBottom, "busiest bucket of each column");
  out += y_axis(kTop, height, ymax, "requests per second");
  if (columns > 0) {
    std::vector<double> ys(columns);
    for (size_t c = 0; c < columns; c++) ys[c] = y_of(p.column_peak[c] / bucket_s);
    out += "<path class=\"peak\" d=\"" + step_path(ys, y_of(0), x_of, true) + "\"/>";
  }
  uint64_t span = std::max<uint64_t>(columns * p.column_ms, 1);
  out += time_axis(kTop, height, span, column_span_text(p));
  return out + "</svg>";
}

std::string active_chart(const Profile &p) {
  const int height = 160;
  size_t columns = p.column_active.size();
  double ymax = nice_ceiling(std::max<double>(static_cast<double>(p.max_active_users), 1.0));
  auto y_of = [&](double v) { return kTop + height - height * v / ymax; };
  auto x_of = [&](size_t c) {
    return kLeft +
           kPlotWidth * static_cast<double>(c) / static_cast<double>(std::max<size_t>(columns, 1));
  };
  std::string out = svg_open(height + kTop + kBottom, "users active at once");
  out += y_axis(kTop, height, ymax, "users active");
  if (columns > 0) {
    std::vector<double> ys(columns);
    for (size_t c = 0; c < columns; c++) ys[c] = y_of(static_cast<double>(p.column_active[c]));
    out += "<path class=\"active\" d=\"" + step_path(ys, y_of(0), x_of, true) + "\"/>";
  }
  uint64_t span = std::max<uint64_t>(columns * p.column_ms, 1);
  out += time_axis(kTop, height, span, column_span_text(p));
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
  std::string out = svg_open(height + top + kBottom, std::string(what) + " per worker");
  out += y_axis(top, height, ymax, std::string(what) + " per worker");
  double slot = static_cast<double>(kPlotWidth) / static_cast<double>(std::max<size_t>(n, 1));
  size_t label_every = std::max<size_t>(1, (n + 23) / 24);
  for (size_t w = 0; w < n; w++) {
    double x = kLeft + slot * static_cast<double>(w);
    double y = y_of(values[w]);
    const WorkerFigures &wf = p.per_worker[w];
    out +=
        fmt("<rect class=\"bar\" fill=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
            "height=\"%.1f\"><title>worker %d: %s %s (%s against the mean)</title></rect>",
            worker_colour(static_cast<int>(w)).c_str(), x + slot * 0.1, y, slot * 0.8,
            top + height - y, wf.worker, format_count(bytes ? wf.bytes : wf.requests).c_str(), what,
            format_imbalance(wf.requests, p.requests, p.workers).c_str());
    if (w % label_every == 0)
      out += fmt("<text class=\"xl\" x=\"%.1f\" y=\"%d\">%d</text>", x + slot / 2,
                 top + height + 16, wf.worker);
  }
  double mean = n ? std::accumulate(values.begin(), values.end(), 0.0) / n : 0;
  out +=
      fmt("<line class=\"mean\" x1=\"%d\" x2=\"%d\" y1=\"%.1f\" y2=\"%.1f\"><title>mean %s"
          "</title></line>",
          kLeft, kLeft + kPlotWidth, y_of(mean), y_of(mean), short_number(mean).c_str());
  out += fmt("<text class=\"axis\" x=\"%d\" y=\"%d\">worker (dashed line: the mean)</text>",
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
      if (name.size() > kPageNameChars) name = "..." + name.substr(name.size() - kPageNameChars + 3);
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
  std::string out = svg_open(height, "page mix");
  uint64_t most = rows.empty() ? 1 : std::max<uint64_t>(rows[0].requests, 1);
  for (const Row &r : rows) most = std::max(most, r.requests);
  // Service names need a wider label column.
  const int bar_left = p.has_clock_and_names ? 330 : 130, bar_width = p.has_clock_and_names ? 380 : 520;
  out +=
      fmt("<text class=\"head pl\" x=\"%d\" y=\"14\">page</text><text class=\"head\" x=\"%d\" "
          "y=\"14\">requests</text><text class=\"head\" x=\"%d\" y=\"14\">share, bytes</text>",
          bar_left - 8, bar_left, bar_left + bar_width + 10);
  for (size_t i = 0; i < rows.size(); i++) {
    const Row &r = rows[i];
    int y = 24 + static_cast<int>(i) * row_h;
    double share = p.requests ? 100.0 * static_cast<double>(r.requests) / p.requests : 0;
    double w = bar_width * static_cast<double>(r.requests) / static_cast<double>(most);
    out += fmt("<text class=\"pl\" x=\"%d\" y=\"%d\">%s</text>", bar_left - 8, y + 14,
               html_escape(r.label).c_str());
    out += fmt("<rect class=\"pagebar\" x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\"/>", bar_left,
               y + 3, w, row_h - 6);
    out += fmt("<text class=\"pv\" x=\"%d\" y=\"%d\">%s (%.1f%%), %s bytes</text>",
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
      {"captured", p.has_clock_and_names ? capture_clock(p, p.first_ms) + " to " +
                                        capture_clock(p, p.last_ms)
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
    return fmt(
        "<p class=\"note\">%d workers, stacked from worker 0 at the bottom; colours "
        "repeat around the colour wheel.</p>",
        p.workers);
  std::string out = "<p class=\"legend\">";
  for (int w = 0; w < p.workers; w++)
    out +=
        fmt("<span><i style=\"background:%s\"></i>worker %d</span>", worker_colour(w).c_str(), w);
  return out + "</p>";
}

constexpr const char *kStyle =
    "body{font:14px/1.4 sans-serif;color:#222;margin:16px auto;max-width:980px;padding:0 10px}"
    "h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:22px 0 4px}"
    "p.sub{color:#555;margin:0 0 10px;word-break:break-all}"
    "svg{display:block;max-width:100%;height:auto}"
    "table.figures{border-collapse:collapse}"
    "table.figures th{text-align:left;font-weight:normal;color:#555;padding:2px 16px 2px 0}"
    "table.figures td{padding:2px 0}"
    ".grid{stroke:#ddd;stroke-width:1}.tick{stroke:#888}"
    ".yl{font-size:11px;text-anchor:end;fill:#444}.xl{font-size:11px;text-anchor:middle;"
    "fill:#444}.axis{font-size:12px;text-anchor:middle;fill:#222}"
    ".series{stroke:none}.peak{fill:#fdd0a2;stroke:#e6550d;stroke-width:1}"
    ".active{fill:#9ecae1;stroke:#3182bd;stroke-width:1}"
    ".mean{stroke:#111;stroke-dasharray:5 3}.bar{stroke:none}"
    ".pagebar{fill:#6baed6}.pl{font-size:12px;text-anchor:end}.pv{font-size:12px}"
    ".head{font-size:11px;fill:#555}"
    "p.legend span{display:inline-block;margin-right:12px;font-size:12px}"
    "p.legend i{display:inline-block;width:10px;height:10px;margin-right:4px}"
    ".note{font-size:12px;color:#555}";

}  // namespace

double nice_ceiling(double v) {
  if (v <= 0) return 1;
  double power = pow(10, floor(log10(v)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * power >= v * (1 - 1e-12)) return m * power;
  return 10 * power;
}

uint64_t time_tick_step(uint64_t span_ms, int max_ticks) {
  static const uint64_t steps[] = {1,        2,        5,        10,        20,       50,
                                   100,      200,      500,      1000,      2000,     5000,
                                   10000,    15000,    30000,    60000,     120000,   300000,
                                   600000,   900000,   1800000,  3600000,   7200000,  10800000,
                                   21600000, 43200000, 86400000, 172800000, 604800000};
  for (uint64_t step : steps)
    if (span_ms / step <= static_cast<uint64_t>(max_ticks)) return step;
  uint64_t step = 604800000;
  while (span_ms / step > static_cast<uint64_t>(max_ticks)) step *= 2;
  return step;
}

std::string format_tick_time(uint64_t ms, uint64_t step_ms) {
  std::string text =
      fmt("%lu:%02lu:%02lu", static_cast<unsigned long>(ms / 3600000),
          static_cast<unsigned long>(ms / 60000 % 60), static_cast<unsigned long>(ms / 1000 % 60));
  if (step_ms % 1000 != 0) text += fmt(".%03lu", static_cast<unsigned long>(ms % 1000));
  return text;
}

std::string render_plot_html(const Profile &p, const std::string &title) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\">"
      "<title>Replay package " +
      html_escape(title) + "</title><style>" + kStyle + "</style></head><body>\n";
  out += "<h1>Replay package</h1><p class=\"sub\">" + html_escape(title) + "</p>\n";
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
