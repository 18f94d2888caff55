// A profile as one self-contained HTML page (inline SVG and CSS, nothing
// fetched, no script): requests per second stacked by worker, users active
// over time, requests and bytes per worker, the page mix, and the figures of
// `vt_package profile`.
#ifndef VT_PACKAGE_PLOT_H_
#define VT_PACKAGE_PLOT_H_

#include <string>

#include "base/html/chart.h"
#include "tools/package/profile.h"

std::string render_plot_html(const Profile &p, const std::string &title);

#endif  // VT_PACKAGE_PLOT_H_
