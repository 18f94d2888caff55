// The pieces of the HTML pages with charts (`vt_package plot`, the page of a
// replay run): number formats shared with the text reports, inline SVG axes
// and outlines, and the page's style. No script, font or image: a page opens
// from the disk and fetches nothing.
#ifndef VT_BASE_HTML_CHART_H_
#define VT_BASE_HTML_CHART_H_

#include <stdint.h>

#include <string>
#include <vector>

// 1234567 -> "1,234,567".
std::string format_count(uint64_t n);
// A rate with at most three decimals, trailing zeros dropped ("2.5", "3"),
// or four significant digits below 1 ("0.0002601").
std::string format_rate(double rate);

// printf into a string.
std::string chart_fmt(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string html_escape(const std::string &text);

// A compact value label: 1234 -> "1.2k", 5600000 -> "5.6M".
std::string short_number(double v);
// The smallest round number (1, 2 or 5 times a power of ten) at or above v.
double nice_ceiling(double v);
// The tick step, from a list of round steps, that cuts span_ms into at most
// max_ticks intervals.
uint64_t time_tick_step(uint64_t span_ms, int max_ticks);
// "h:mm:ss" for ticks of at least a second, "h:mm:ss.mmm" below.
std::string format_tick_time(uint64_t ms, uint64_t step_ms);

// The layout every chart shares: 960 units wide, the plot area between the
// left and right margins.
constexpr int kChartWidth = 960;
constexpr int kChartLeft = 72;
constexpr int kChartRight = 16;
constexpr int kChartTop = 14;
constexpr int kChartBottom = 46;
constexpr int kChartPlotWidth = kChartWidth - kChartLeft - kChartRight;

// <svg ...> of the given height, labelled for readers.
std::string chart_svg_open(int height, const std::string &label);
// Horizontal grid lines with value labels on the left, and the axis title.
std::string chart_y_axis(int top, int height, double ymax, const std::string &title);
// Time ticks under a chart whose plot area spans span_ms.
std::string chart_time_axis(int top, int height, uint64_t span_ms, const std::string &title);
// A distinct colour for series i.
std::string chart_colour(int i);

// A step outline over columns: from the axis at x_of(0), one level per
// column (ys), back down to the axis when `close`; a level equal to the one
// before adds no vertical move.
template <typename XOf>
std::string chart_step_path(const std::vector<double> &ys, double base_y, XOf x_of, bool close) {
  std::string d = chart_fmt("M%.1f %.1f", x_of(0), base_y);
  double last_y = base_y;
  for (size_t c = 0; c < ys.size(); c++) {
    if (c == 0 || ys[c] != last_y) d += chart_fmt("V%.1f", ys[c]);
    d += chart_fmt("H%.1f", x_of(c + 1));
    last_y = ys[c];
  }
  if (close) d += chart_fmt("V%.1fZ", base_y);
  return d;
}

// The style sheet of every page with charts.
extern const char kChartStyle[];

// The head of a page with charts and its first lines: "<kind> <title>" as
// the window's title, the kind as the heading and the title under it, both
// escaped.
std::string chart_page_start(const char *kind, const std::string &title);

#endif  // VT_BASE_HTML_CHART_H_
