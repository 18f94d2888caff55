#include "base/html/chart.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>

std::string chart_fmt(const char *format, ...) {
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

std::string format_count(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string format_rate(double rate) {
  if (rate == 0) rate = 0;  // no "-0"
  // Below 1, four significant digits, so that a slow rate does not read as 0.
  if (rate > -1 && rate < 1 && rate != 0) return chart_fmt("%.4g", rate);
  std::string text = chart_fmt("%.3f", rate);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
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

std::string short_number(double v) {
  const char *units[] = {"", "k", "M", "G", "T"};
  int u = 0;
  while (fabs(v) >= 1000 && u < 4) {
    v /= 1000;
    u++;
  }
  return format_rate(round(v * 100) / 100) + units[u];
}

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
  std::string text = chart_fmt("%lu:%02lu:%02lu", static_cast<unsigned long>(ms / 3600000),
                               static_cast<unsigned long>(ms / 60000 % 60),
                               static_cast<unsigned long>(ms / 1000 % 60));
  if (step_ms % 1000 != 0) text += chart_fmt(".%03lu", static_cast<unsigned long>(ms % 1000));
  return text;
}

std::string chart_svg_open(int height, const std::string &label) {
  return chart_fmt(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %d %d\" width=\"%d\" "
      "height=\"%d\" role=\"img\" aria-label=\"%s\">",
      kChartWidth, height, kChartWidth, height, html_escape(label).c_str());
}

std::string chart_y_axis(int top, int height, double ymax, const std::string &title) {
  std::string out;
  for (int i = 0; i <= 4; i++) {
    double v = ymax * i / 4;
    double y = top + height - height * i / 4.0;
    out += chart_fmt("<line class=\"grid\" x1=\"%d\" x2=\"%d\" y1=\"%.1f\" y2=\"%.1f\"/>",
                     kChartLeft, kChartLeft + kChartPlotWidth, y, y);
    out += chart_fmt("<text class=\"yl\" x=\"%d\" y=\"%.1f\">%s</text>", kChartLeft - 6, y + 4,
                     short_number(v).c_str());
  }
  out += chart_fmt("<text class=\"axis\" transform=\"translate(14,%d) rotate(-90)\">%s</text>",
                   top + height / 2, html_escape(title).c_str());
  return out;
}

std::string chart_time_axis(int top, int height, uint64_t span_ms, const std::string &title) {
  std::string out;
  uint64_t step = time_tick_step(span_ms, 8);
  for (uint64_t t = 0; t <= span_ms; t += step) {
    double x = kChartLeft + kChartPlotWidth * static_cast<double>(t) / static_cast<double>(span_ms);
    out += chart_fmt("<line class=\"tick\" x1=\"%.1f\" x2=\"%.1f\" y1=\"%d\" y2=\"%d\"/>", x, x,
                     top + height, top + height + 5);
    out += chart_fmt("<text class=\"xl\" x=\"%.1f\" y=\"%d\">%s</text>", x, top + height + 18,
                     format_tick_time(t, step).c_str());
  }
  out += chart_fmt("<text class=\"axis\" x=\"%d\" y=\"%d\">%s</text>",
                   kChartLeft + kChartPlotWidth / 2, top + height + 38, html_escape(title).c_str());
  return out;
}

std::string chart_colour(int i) {
  return chart_fmt("hsl(%d,60%%,%d%%)", static_cast<int>(fmod(i * 137.508, 360.0)),
                   42 + (i % 3) * 9);
}

const char kChartStyle[] =
    "body{font:14px/1.4 sans-serif;color:#222;margin:16px auto;max-width:980px;padding:0 10px}"
    "h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:22px 0 4px}"
    "p.sub{color:#555;margin:0 0 10px;word-break:break-all}"
    "svg{display:block;max-width:100%;height:auto}"
    "table.figures{border-collapse:collapse}"
    "table.figures th{text-align:left;font-weight:normal;color:#555;padding:2px 16px 2px 0}"
    "table.figures td{padding:2px 0}"
    "table.rows{border-collapse:collapse;font-size:12px}"
    "table.rows th{font-weight:normal;color:#555;border-bottom:1px solid #ccc;padding:2px 8px}"
    "table.rows td{padding:1px 8px;text-align:right;font-variant-numeric:tabular-nums}"
    "table.rows td.name{text-align:left}"
    ".grid{stroke:#ddd;stroke-width:1}.tick{stroke:#888}"
    ".yl{font-size:11px;text-anchor:end;fill:#444}.xl{font-size:11px;text-anchor:middle;"
    "fill:#444}.axis{font-size:12px;text-anchor:middle;fill:#222}"
    ".series{stroke:none}.peak{fill:#fdd0a2;stroke:#e6550d;stroke-width:1}"
    ".active{fill:#9ecae1;stroke:#3182bd;stroke-width:1}"
    ".mean{stroke:#111;stroke-dasharray:5 3}.bar{stroke:none}"
    ".pagebar{fill:#6baed6}.pl{font-size:12px;text-anchor:end}.pv{font-size:12px}"
    ".head{font-size:11px;fill:#555}"
    ".line{fill:none;stroke-width:1.5}.dashed{stroke-dasharray:5 3}"
    ".empty{font-size:13px;fill:#777;text-anchor:middle}"
    "p.legend span{display:inline-block;margin-right:12px;font-size:12px}"
    "p.legend i{display:inline-block;width:10px;height:10px;margin-right:4px}"
    ".note{font-size:12px;color:#555}";

std::string chart_page_start(const char *kind, const std::string &title) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\">"
      "<title>";
  out += kind;
  out += ' ';
  out += html_escape(title) + "</title><style>" + kChartStyle + "</style></head><body>\n";
  out += "<h1>";
  out += kind;
  out += "</h1><p class=\"sub\">" + html_escape(title) + "</p>\n";
  return out;
}
