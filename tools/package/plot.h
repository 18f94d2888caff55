// A profile as one self-contained HTML page (inline SVG and CSS, nothing
// fetched, no script): requests per second stacked by worker, users active
// over time, requests and bytes per worker, the page mix, and the figures of
// `vt_package profile`.
#ifndef VT_PACKAGE_PLOT_H_
#define VT_PACKAGE_PLOT_H_

#include <string>

#include "tools/package/profile.h"

std::string render_plot_html(const Profile &p, const std::string &title);

// "h:mm:ss" for ticks of at least a second, "h:mm:ss.mmm" below.
std::string format_tick_time(uint64_t ms, uint64_t step_ms);

// The tick step, from a list of round steps, that cuts span_ms into at most
// max_ticks intervals.
uint64_t time_tick_step(uint64_t span_ms, int max_ticks);

// The smallest round number (1, 2 or 5 times a power of ten) at or above v.
double nice_ceiling(double v);

#endif  // VT_PACKAGE_PLOT_H_
